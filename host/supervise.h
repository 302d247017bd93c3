// Supervision of a web page: is a marker text in it?
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::host {

// Fetches Url ("http://" put in front when it has no such scheme) and looks
// for Sign in the page without regard to letter case: 0 found, 1 not found
// (also when the page could not be fetched), 4 a step failed.
std::int32_t Supervise(std::u16string Url, std::u16string Sign);

}  // namespace quorvel::host
