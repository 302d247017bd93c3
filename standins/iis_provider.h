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

class IisObject final : public automation::AutomationObject<IisObject, idl::IIisObject> {
public:
    explicit IisObject(iis::Entry entry) : entry_(std::move(entry)) {}

    automation::Value Name(const automation::Arguments&);
    automation::Value Class(const automation::Arguments&);
    automation::Value ADsPath(const automation::Arguments&);
    automation::Value Parent(const automation::Arguments&);
    automation::Value Get(const automation::Arguments& args);
    automation::Value Put(const automation::Arguments& args);
    automation::Value SetInfo(const automation::Arguments&);
    automation::Value GetInfo(const automation::Arguments&);
    automation::Value Create(const automation::Arguments& args);
    automation::Value GetObject(const automation::Arguments& args);
    automation::Value Delete(const automation::Arguments& args);
    automation::Value NewEnum(const automation::Arguments&);
    automation::Value Start(const automation::Arguments&);
    automation::Value Stop(const automation::Arguments&);
    automation::Value AppCreate2(const automation::Arguments& args);
    automation::Value Backup(const automation::Arguments& args);
    automation::Value Restore(const automation::Arguments& args);
    automation::Value DeleteBackup(const automation::Arguments& args);
    automation::Value EnumBackups(const automation::Arguments& args);

    // Schema properties: any name reads or writes a metabase property.
    bool HasProperty(std::u16string_view) { return true; }
    automation::Value GetProperty(const std::u16string& name);
    void PutProperty(const std::u16string& name, const automation::Variant& value);

private:
    void RequireClass(std::u16string_view cls) const;

    iis::Entry entry_;
};

// "IIS://NAME[/path]"; raises 0x80070003 for a name that is not there.
automation::ComPtr<IDispatch> BindIis(std::u16string_view display_name);

}  // namespace quorvel::standins
