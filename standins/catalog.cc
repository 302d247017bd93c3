// One line per class; each class lives in its own file.
#include "standins/catalog.h"

#include "standins/probe.h"

namespace quorvel::standins {

std::span<const StandinClass> Classes() {
    static const StandinClass kClasses[] = {
        {"{6B1C0F7E-3D55-4C8A-9E21-5A7B0C2D9F10}", "QuorvelStandins.Probe", "Object layer probe",
         &platform::CreateInstanceOf<Probe>, nullptr},
        {"{6B1C0F7E-3D55-4C8A-9E21-5A7B0C2D9F11}", "PROBE", "Object layer probe namespace", nullptr, &BindProbe},
    };
    return kClasses;
}

}  // namespace quorvel::standins
