// One line per class; each class lives in its own file.
#include "standins/catalog.h"

#include "standins/probe.h"
#include "standins/winnt/directory.h"

namespace quorvel::standins {

std::span<const StandinClass> Classes() {
    static const StandinClass kClasses[] = {
        {"{6B1C0F7E-3D55-4C8A-9E21-5A7B0C2D9F10}", "QuorvelStandins.Probe", "Object layer probe",
         &platform::CreateInstanceOf<Probe>, nullptr},
        {"{6B1C0F7E-3D55-4C8A-9E21-5A7B0C2D9F11}", "PROBE", "Object layer probe namespace", nullptr, &BindProbe},
        {"{99BF0C2B-77DC-474F-B83C-9BD66F007047}", "WinNT", "WinNT directory provider", nullptr, &winnt::BindWinNT},
    };
    return kClasses;
}

}  // namespace quorvel::standins
