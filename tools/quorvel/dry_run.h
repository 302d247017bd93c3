// The dry run of `quorvel call`: the machine folder copied, the component's
// logs sent to a folder of their own, and the environment pointed at both
// while it lives (the component reads QUORVEL_MACHINE and QUORVEL_LOG_FOLDER
// at each call); then everything removed again.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quorvel::cli {

class DryRun {
public:
    // Nothing, with `error`, when there is no machine folder or it cannot be
    // copied.
    static std::unique_ptr<DryRun> Make(std::string& error);
    ~DryRun();
    DryRun(const DryRun&) = delete;
    DryRun& operator=(const DryRun&) = delete;

    // The webmail stand-in serving the new-account form on the copy of
    // `mail_dir` (Windows form) on 127.0.0.1, its settings' Port pointing at
    // it; false when the copy has no webmail settings (the method then finds
    // none, as it would) or the server cannot listen.
    bool ServeWebmail(const std::u16string& mail_dir);

    // The audit lines the call wrote on stdout, its error-log lines on
    // stderr, each in UTF-8.
    void Report() const;

private:
    explicit DryRun(const std::string& temp);
    struct Webmail;

    std::filesystem::path temp_;
    std::filesystem::path copy_;
    std::filesystem::path logs_;
    bool pointed_ = false;
    std::optional<std::string> saved_machine_;
    std::optional<std::string> saved_logs_;
    std::unique_ptr<Webmail> webmail_;
};

}  // namespace quorvel::cli
