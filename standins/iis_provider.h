// The IIS directory provider: "IIS://NAME[/path]" binds an object of the
// metabase (the computer, the web service, sites, virtual directories),
// driven late-bound as a client drives ADSI: properties by name, Get/Put,
// SetInfo, Create/GetObject/Delete of children, For Each, and the methods of
// its class (Start and Stop of a site, AppCreate2 of a virtual directory,
// Backup, Restore, DeleteBackup and EnumBackups of the computer).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/automation.h"
#include "standins/iis/directory.h"

namespace quorvel::standins {

class IisObject final : public platform::AutomationObject<IisObject> {
public:
    explicit IisObject(iis::Entry entry) : entry_(std::move(entry)) {}

    static std::span<const platform::Member<IisObject>> Members();

    platform::Value Name(const platform::Arguments&);
    platform::Value Class(const platform::Arguments&);
    platform::Value AdsPath(const platform::Arguments&);
    platform::Value Parent(const platform::Arguments&);
    platform::Value Get(const platform::Arguments& args);
    platform::Value Put(const platform::Arguments& args);
    platform::Value SetInfo(const platform::Arguments&);
    platform::Value GetInfo(const platform::Arguments&);
    platform::Value CreateChild(const platform::Arguments& args);
    platform::Value GetChild(const platform::Arguments& args);
    platform::Value DeleteChild(const platform::Arguments& args);
    platform::Value NewEnum(const platform::Arguments&);
    platform::Value Start(const platform::Arguments&);
    platform::Value Stop(const platform::Arguments&);
    platform::Value AppCreate2(const platform::Arguments& args);
    platform::Value Backup(const platform::Arguments& args);
    platform::Value Restore(const platform::Arguments& args);
    platform::Value DeleteBackup(const platform::Arguments& args);
    platform::Value EnumBackups(const platform::Arguments& args);

    // Schema properties: any name reads or writes a metabase property.
    bool HasProperty(std::u16string_view) { return true; }
    platform::Value GetProperty(const std::u16string& name);
    void PutProperty(const std::u16string& name, const platform::Variant& value);

private:
    void RequireClass(std::u16string_view cls) const;

    iis::Entry entry_;
};

// "IIS://NAME[/path]"; raises 0x80070003 for a name that is not there.
platform::ComPtr<IDispatch> BindIis(std::u16string_view display_name);

}  // namespace quorvel::standins
