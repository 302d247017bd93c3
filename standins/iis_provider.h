// The IIS directory provider: "IIS://NAME[/path]" binds an object of the
// metabase (the computer, the web service, sites, virtual directories),
// driven late-bound as a client drives ADSI: properties by name, Get/Put,
// SetInfo, Create/GetObject/Delete of children, For Each, and the methods of
// its class (Start and Stop of a site, AppCreate2 of a virtual directory,
// Backup, Restore, DeleteBackup and EnumBackups of the computer).
#pragma once

#include <string>
#include <string_view>

#include "automation/automation.h"
#include "standin_members.h"
#include "standins/iis/directory.h"

namespace quorvel::standins {

class IisObject final : public platform::AutomationObject<IisObject, idl::IIisObject> {
public:
    explicit IisObject(iis::Entry entry) : entry_(std::move(entry)) {}

    platform::Value Name(const platform::Arguments&);
    platform::Value Class(const platform::Arguments&);
    platform::Value ADsPath(const platform::Arguments&);
    platform::Value Parent(const platform::Arguments&);
    platform::Value Get(const platform::Arguments& args);
    platform::Value Put(const platform::Arguments& args);
    platform::Value SetInfo(const platform::Arguments&);
    platform::Value GetInfo(const platform::Arguments&);
    platform::Value Create(const platform::Arguments& args);
    platform::Value GetObject(const platform::Arguments& args);
    platform::Value Delete(const platform::Arguments& args);
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
