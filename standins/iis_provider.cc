#include "standins/iis_provider.h"

#include <type_traits>
#include <utility>
#include <vector>

namespace quorvel::standins {
namespace {

using automation::Arguments;
using automation::Value;
using automation::Variant;

// The directory's failures reach the client as bare HRESULTs, as the
// system's provider gives them.
template <typename Work>
auto Directory(Work&& work) {
    try {
        return work();
    } catch (const iis::DirectoryError& error) {
        automation::RaiseHresult(error.code());
    }
}

Value ToValue(const iis::Value& value) {
    return std::visit([](const auto& v) { return Value(Variant(v)); }, value);
}

iis::Value FromVariant(const Variant& value) {
    const VARTYPE vt = value.vt();
    if ((vt & VT_ARRAY) != 0) return value.TextList();
    switch (vt) {
        case VT_BSTR: return value.Text();
        case VT_I2: return value.Short();
        case VT_BOOL: return value.Bool();
        case VT_I4:
        case VT_UI1:
        case VT_I1:
        case VT_UI2:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_R4:
        case VT_R8:
        case VT_DECIMAL:
        case VT_CY: return value.Long();
        default: automation::RaiseHresult(DISP_E_TYPEMISMATCH);
    }
}

Value NewObject(iis::Entry entry) {
    auto object = automation::MakeObject<IisObject, IDispatch>(std::move(entry));
    if (!object) Raise(kOutOfMemory);
    return Value(Variant(object));
}

}  // namespace

// A method of another class than the object's: as a member it does not have.
void IisObject::RequireClass(std::u16string_view cls) const {
    if (iis::UpperKey(entry_.cls()) != iis::UpperKey(cls)) automation::RaiseHresult(DISP_E_MEMBERNOTFOUND);
}

Value IisObject::Name(const Arguments&) { return Value(entry_.name()); }
Value IisObject::Class(const Arguments&) { return Value(entry_.cls()); }
Value IisObject::ADsPath(const Arguments&) { return Value(entry_.ads_path()); }
Value IisObject::Parent(const Arguments&) {
    return Directory([&] { return ToValue(entry_.Get(u"Parent")); });
}

Value IisObject::Get(const Arguments& args) { return GetProperty(args.Text(0)); }

Value IisObject::Put(const Arguments& args) {
    PutProperty(args.Text(0), args[1]);
    return Value();
}

Value IisObject::GetProperty(const std::u16string& name) {
    return Directory([&] {
        if (const iis::Value* stored = entry_.Stored(name)) return ToValue(*stored);
        return ToValue(entry_.Get(name));
    });
}

void IisObject::PutProperty(const std::u16string& name, const Variant& value) {
    iis::Value converted = FromVariant(value);
    Directory([&] { entry_.Put(name, std::move(converted)); });
}

Value IisObject::SetInfo(const Arguments&) {
    Directory([&] { entry_.SetInfo(); });
    return Value();
}

Value IisObject::GetInfo(const Arguments&) {
    Directory([&] { entry_.GetInfo(); });
    return Value();
}

Value IisObject::Create(const Arguments& args) {
    return NewObject(Directory([&] { return entry_.Create(args.Text(0), args.Text(1)); }));
}

Value IisObject::GetObject(const Arguments& args) {
    return NewObject(Directory([&] { return entry_.GetObject(args.Text(0), args.Text(1)); }));
}

Value IisObject::Delete(const Arguments& args) {
    Directory([&] { entry_.Delete(args.Text(0), args.Text(1)); });
    return Value();
}

// The children as they were at the call; each object is made when For Each
// reaches it (the web service may hold thousands).
Value IisObject::NewEnum(const Arguments&) {
    const iis::ChildList children = Directory([&] { return entry_.ChildList(); });
    auto parent = std::make_shared<const iis::Entry>(entry_);
    return automation::NewEnum(children->size(), [children, parent](std::size_t i) -> Variant {
        return NewObject(parent->MakeChild((*children)[i]));
    });
}

Value IisObject::Start(const Arguments&) {
    RequireClass(u"IIsWebServer");
    Directory([&] { entry_.Start(); });
    return Value();
}

Value IisObject::Stop(const Arguments&) {
    RequireClass(u"IIsWebServer");
    Directory([&] { entry_.Stop(); });
    return Value();
}

Value IisObject::AppCreate2(const Arguments& args) {
    RequireClass(u"IIsWebVirtualDir");
    const std::int32_t mode = args.Long(0);
    Directory([&] { entry_.AppCreate2(mode); });
    return Value();
}

Value IisObject::Backup(const Arguments& args) {
    RequireClass(u"IIsComputer");
    const std::int32_t version = args.Long(1);
    const std::int32_t flags = args.Long(2);
    Directory([&] { entry_.Backup(args.Text(0), version, flags); });
    return Value();
}

Value IisObject::Restore(const Arguments& args) {
    RequireClass(u"IIsComputer");
    const std::int32_t version = args.Long(1);
    const std::int32_t flags = args.Long(2);
    Directory([&] { entry_.Restore(args.Text(0), version, flags); });
    return Value();
}

Value IisObject::DeleteBackup(const Arguments& args) {
    RequireClass(u"IIsComputer");
    const std::int32_t version = args.Long(1);
    Directory([&] { entry_.DeleteBackup(args.Text(0), version); });
    return Value();
}

Value IisObject::EnumBackups(const Arguments& args) {
    RequireClass(u"IIsComputer");
    const std::u16string location = args.Text(0);
    return Value(Variant(Directory([&] { return entry_.EnumBackups(location); })));
}

automation::ComPtr<IDispatch> BindIis(std::u16string_view display_name) {
    iis::Entry entry = Directory([&] { return iis::Entry::Bind(display_name); });
    return NewObject(std::move(entry)).Dispatch();
}

}  // namespace quorvel::standins
