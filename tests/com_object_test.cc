// The class object, SiteManage's own IUnknown/IDispatch, and the module's
// unload bookkeeping, as a COM client meets them.
#include <gtest/gtest.h>

#include "automation/automation.h"
#include "component/class_factory.h"
#include "platform/com.h"
#include "quorvel_interface.h"

namespace {

using quorvel::_SiteManage;
using quorvel::component::CanUnloadNow;
using quorvel::component::GetClassObject;

IClassFactory* Factory() {
    void* out = nullptr;
    EXPECT_EQ(GetClassObject(quorvel::kClsid, IID_IClassFactory, &out), S_OK);
    return static_cast<IClassFactory*>(out);
}

TEST(ClassObject, OnlyForItsClass) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(GetClassObject(quorvel::kIid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(GetClassObject(quorvel::kClsid, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(GetClassObject(quorvel::kClsid, IID_IClassFactory, nullptr), E_POINTER);
}

TEST(ClassObject, RefusesAggregation) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    factory->Release();
}

TEST(ClassObject, CanUnloadOnlyWhenNothingIsOutstanding) {
    ASSERT_EQ(CanUnloadNow(), S_OK);
    IClassFactory* factory = Factory();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);

    IDispatch* object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the object and the lock

    object->Release();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the lock
    factory = Factory();
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// A client asks GetTypeInfo for what GetTypeInfoCount promised (none, or the
// interface's), and reads the out parameter whatever the answer.
TEST(SiteManageObject, TypeInformationAgreesWithItsCount) {
    IClassFactory* factory = Factory();
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    factory->Release();

    EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);
    UINT count = 9;
    ASSERT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    ASSERT_LE(count, 1u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    if (count == 1) {
        ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
        ASSERT_NE(info, nullptr);
        void* same = nullptr;
        EXPECT_EQ(info->QueryInterface(IID_ITypeInfo, &same), S_OK);
        if (same != nullptr) static_cast<ITypeInfo*>(same)->Release();
        info->Release();
        info = reinterpret_cast<ITypeInfo*>(1);
    }
    EXPECT_EQ(dispatch->GetTypeInfo(count, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(dispatch->GetTypeInfo(0, 0, nullptr), E_POINTER);
    EXPECT_EQ(dispatch->Release(), 0u);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(SiteManageObject, InterfacesAndResults) {
    IClassFactory* factory = Factory();
    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    factory->Release();

    _SiteManage* site = nullptr;
    IDispatch* dispatch = nullptr;
    void* other = reinterpret_cast<void*>(1);
    ASSERT_EQ(unknown->QueryInterface(quorvel::kIid, reinterpret_cast<void**>(&site)), S_OK);
    ASSERT_EQ(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(static_cast<IDispatch*>(site), dispatch);
    EXPECT_EQ(unknown->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    // A call that does nothing still succeeds as a COM call, its result set.
    LONG result = 99;
    BSTR action = quorvel::platform::ToBstr(u"REBOOT");
    EXPECT_EQ(site->BackupSit(action, 7, action, action, action, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(site->ExitWindows(action, nullptr), E_POINTER);
    // GetMailPass answers a failure with the empty text, never a COM error.
    BSTR text = action;
    EXPECT_EQ(site->GetMailPass(action, action, action, &text), S_OK);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 0u);
    SysFreeString(text);
    SysFreeString(action);

    site->Release();
    dispatch->Release();
    EXPECT_EQ(unknown->Release(), 0u);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace

namespace {

using quorvel::automation::ComPtr;
using quorvel::automation::Variant;

// An enumerator whose elements are made as they are fetched: only those
// fetched are made, Skip, Clone and Reset keep their places, and an element
// that cannot be made fails its Next without handing out the others.
TEST(Enumerator, MadeAsFetched) {
    int made = 0;
    const quorvel::automation::Value value = quorvel::automation::NewEnum(5, [&](std::size_t i) {
        ++made;
        return Variant(static_cast<std::int32_t>(i));
    });
    ComPtr<IEnumVARIANT> items =
        ComPtr<IUnknown>::Share(value.get()->punkVal).Query<IEnumVARIANT>(IID_IEnumVARIANT);
    ASSERT_TRUE(items);
    VARIANT out[4];
    ULONG fetched = 0;
    ASSERT_EQ(items->Next(2, out, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(out[0].lVal, 0);
    EXPECT_EQ(out[1].lVal, 1);
    EXPECT_EQ(made, 2);

    ComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(items->Clone(clone.out()), S_OK);
    EXPECT_EQ(items->Skip(1), S_OK);
    ASSERT_EQ(items->Next(4, out, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(out[0].lVal, 3);
    EXPECT_EQ(out[1].lVal, 4);
    ASSERT_EQ(clone->Next(1, out, &fetched), S_OK);
    EXPECT_EQ(out[0].lVal, 2);
    EXPECT_EQ(items->Skip(1), S_FALSE);
    ASSERT_EQ(items->Reset(), S_OK);
    ASSERT_EQ(items->Next(1, out, &fetched), S_OK);
    EXPECT_EQ(out[0].lVal, 0);
}

TEST(Enumerator, ElementThatCannotBeMadeFailsItsNext) {
    const quorvel::automation::Value value = quorvel::automation::NewEnum(3, [](std::size_t i) {
        if (i == 1) quorvel::automation::RaiseHresult(E_ACCESSDENIED);
        return Variant(std::u16string(u"element"));
    });
    ComPtr<IEnumVARIANT> items =
        ComPtr<IUnknown>::Share(value.get()->punkVal).Query<IEnumVARIANT>(IID_IEnumVARIANT);
    ASSERT_TRUE(items);
    VARIANT out[3];
    ULONG fetched = 7;
    EXPECT_EQ(items->Next(3, out, &fetched), E_ACCESSDENIED);
    EXPECT_EQ(fetched, 0u);
}

}  // namespace
