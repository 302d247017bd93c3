// One line per class; each class lives in its own file.
#include "standins/catalog.h"

#include "standins/iis_provider.h"
#include "standins/mail_components.h"
#include "standins/probe.h"
#include "standins/winnt/directory.h"

namespace quorvel::standins {

std::span<const StandinClass> Classes() {
    static const StandinClass kClasses[] = {
        {"{6B1C0F7E-3D55-4C8A-9E21-5A7B0C2D9F10}", "QuorvelStandins.Probe", "Object layer probe",
         &automation::CreateInstanceOf<Probe>, nullptr},
        {"{6B1C0F7E-3D55-4C8A-9E21-5A7B0C2D9F11}", "PROBE", "Object layer probe namespace", nullptr, &BindProbe},
        {"{3F0B6C2E-8D41-4E7A-A5C9-1E2D7B40C3A1}", "IIS", "IIS directory provider", nullptr, &BindIis},
        {"{3F0C8A52-71E4-4B9D-A6C3-2E5D8B1F4A01}", "JMAIL.SmtpMail", "JMail SMTP mail",
         &automation::CreateInstanceOf<JmailSmtpMail>, nullptr},
        {"{3F0C8A52-71E4-4B9D-A6C3-2E5D8B1F4A02}", "JMAIL.Message", "JMail message",
         &automation::CreateInstanceOf<JmailMessage>, nullptr},
        {"{3F0C8A52-71E4-4B9D-A6C3-2E5D8B1F4A03}", "CDONTS.NewMail", "CDONTS new mail",
         &automation::CreateInstanceOf<CdontsNewMail>, nullptr},
        {"{99BF0C2B-77DC-474F-B83C-9BD66F007047}", "WinNT", "WinNT directory provider", nullptr, &winnt::BindWinNT},
    };
    return kClasses;
}

}  // namespace quorvel::standins
