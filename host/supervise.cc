// Supervise: fetch a page and look for a marker in it.
//
// The page is searched while it arrives and reading stops at the marker, so
// a page of any size costs the same memory; a double-byte character cut
// between two reads is joined again.
#include "host/supervise.h"

#include "base/ascii.h"
#include "component/frame/frame.h"
#include "host/marker_search.h"
#include "platform/http.h"
#include "platform/text.h"

namespace quorvel::host {
namespace {

constexpr char16_t kScheme[] = u"HTTP://";
constexpr char16_t kMarkerMissing[] = u"，错误源：网页 ，错误描述：网页没有发生指定错误！";

}  // namespace

std::int32_t Supervise(std::u16string Url, std::u16string Sign) {
    CallFrame frame(u"Supervise", ErrorMode::SingleHandler);
    return frame.Run([&]() -> std::int32_t {
        if (base::ToUpperAscii(std::u16string_view(Url).substr(0, 7)) != kScheme) Url = u"http://" + Url;
        MarkerSearch search(Sign);
        frame.Step([&] {
            // A page that cannot be fetched is an empty one.
            platform::HttpGet(platform::ToAnsi(Url), [&](std::string_view piece) { return !search.Feed(piece); });
            search.Finish();
        });
        if (search.found()) return frame.Finish();
        return frame.Detected(kPreconditionFailed, kMarkerMissing);
    });
}

}  // namespace quorvel::host
