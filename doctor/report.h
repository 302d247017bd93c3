// What quorvel doctor found: each finding with the file or object, the line
// or record, what is wrong and what a repair does; what it could not look
// at; and the exit status that sums it up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::doctor {

struct Finding {
    std::string kind;         // "ftp.list-gap", ...: what is wrong, for a program
    std::u16string object;    // a file (Windows form) or a directory object (ADsPath)
    std::int64_t line = 0;    // the line or record, from 1; 0 where there is none
    std::u16string message;   // what is wrong
    std::u16string repair;    // what --repair does; empty when there is no single sound fix
    bool repaired = false;
};

// Exit statuses.
inline constexpr int kSound = 0;
inline constexpr int kFindings = 1;
inline constexpr int kRepaired = 2;
inline constexpr int kUsage = 64;
inline constexpr int kAccess = 69;

class Report {
public:
    void Add(Finding finding) { findings_.push_back(std::move(finding)); }
    // Something that could not be read or changed: the check, or the repair,
    // is not done.
    void Unchecked(std::u16string object, std::u16string why);
    // What was looked at.
    void Checked(std::u16string object) { checked_.push_back(std::move(object)); }

    const std::vector<Finding>& findings() const { return findings_; }
    std::vector<Finding>& findings() { return findings_; }

    // 69 when something could not be looked at or put right, else 1 while a
    // finding is not repaired, else 2 when something was repaired, else 0.
    int ExitCode() const;

    // For people: one paragraph per finding, then a summary line (UTF-8).
    std::string Text() const;
    // For monitoring: one JSON document (UTF-8).
    std::string Json() const;

private:
    struct Problem {
        std::u16string object;
        std::u16string why;
    };
    std::vector<Finding> findings_;
    std::vector<Problem> unchecked_;
    std::vector<std::u16string> checked_;
};

}  // namespace quorvel::doctor
