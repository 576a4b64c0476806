// The portable-device contract as compiled: every vtable slot, interface id, class id,
// property key and GUID of devfs/wpd.h (and the MinGW types the layer calls) against values
// typed here independently from the verified fact sheet. Under Wine a wrong slot cannot be
// seen at run time; on Windows it calls the wrong method.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <type_traits>
#include "devfs/wpd.h"

namespace {

// GCC's (Itanium) pointer to a virtual member function holds 1 + the byte offset of the
// slot in the vtable; a non-virtual one holds an address (even). Test-only reliance.
template <class M>
int SlotOf(M member)
{
    static_assert(sizeof(M) == 2 * sizeof(void *), "unexpected member-pointer layout");
    struct { uintptr_t ptr; ptrdiff_t adj; } raw;
    memcpy(&raw, &member, sizeof(raw));
    if (!(raw.ptr & 1) || raw.adj != 0) return -1;
    return (int)((raw.ptr - 1) / sizeof(void *));
}

// Every method of the contract with its vtable slot from the fact sheet; the MinGW types
// interfaces at the slots the layer calls.
#define CONTRACT_METHODS(X) \
    X(IPortableDeviceManager, GetDevices, 3) X(IPortableDeviceManager, RefreshDeviceList, 4) \
    X(IPortableDeviceManager, GetDeviceFriendlyName, 5) X(IPortableDeviceManager, GetDeviceDescription, 6) \
    X(IPortableDeviceManager, GetDeviceManufacturer, 7) X(IPortableDeviceManager, GetDeviceProperty, 8) \
    X(IPortableDeviceManager, GetPrivateDevices, 9) \
    X(IPortableDevice, Open, 3) X(IPortableDevice, SendCommand, 4) X(IPortableDevice, Content, 5) \
    X(IPortableDevice, Capabilities, 6) X(IPortableDevice, Cancel, 7) X(IPortableDevice, Close, 8) \
    X(IPortableDevice, Advise, 9) X(IPortableDevice, Unadvise, 10) X(IPortableDevice, GetPnPDeviceID, 11) \
    X(IPortableDeviceContent, EnumObjects, 3) X(IPortableDeviceContent, Properties, 4) \
    X(IPortableDeviceContent, Transfer, 5) X(IPortableDeviceContent, CreateObjectWithPropertiesOnly, 6) \
    X(IPortableDeviceContent, CreateObjectWithPropertiesAndData, 7) X(IPortableDeviceContent, Delete, 8) \
    X(IPortableDeviceContent, GetObjectIDsFromPersistentUniqueIDs, 9) X(IPortableDeviceContent, Cancel, 10) \
    X(IPortableDeviceContent, Move, 11) X(IPortableDeviceContent, Copy, 12) \
    X(IPortableDeviceProperties, GetSupportedProperties, 3) X(IPortableDeviceProperties, GetPropertyAttributes, 4) \
    X(IPortableDeviceProperties, GetValues, 5) X(IPortableDeviceProperties, SetValues, 6) \
    X(IPortableDeviceProperties, Delete, 7) X(IPortableDeviceProperties, Cancel, 8) \
    X(IPortableDeviceResources, GetSupportedResources, 3) X(IPortableDeviceResources, GetResourceAttributes, 4) \
    X(IPortableDeviceResources, GetStream, 5) X(IPortableDeviceResources, Delete, 6) \
    X(IPortableDeviceResources, Cancel, 7) X(IPortableDeviceResources, CreateResource, 8) \
    X(IEnumPortableDeviceObjectIDs, Next, 3) X(IEnumPortableDeviceObjectIDs, Skip, 4) \
    X(IEnumPortableDeviceObjectIDs, Reset, 5) X(IEnumPortableDeviceObjectIDs, Clone, 6) \
    X(IEnumPortableDeviceObjectIDs, Cancel, 7) \
    X(IPortableDeviceDataStream, Read, 3) X(IPortableDeviceDataStream, Write, 4) \
    X(IPortableDeviceDataStream, Seek, 5) X(IPortableDeviceDataStream, SetSize, 6) \
    X(IPortableDeviceDataStream, CopyTo, 7) X(IPortableDeviceDataStream, Commit, 8) \
    X(IPortableDeviceDataStream, Revert, 9) X(IPortableDeviceDataStream, LockRegion, 10) \
    X(IPortableDeviceDataStream, UnlockRegion, 11) X(IPortableDeviceDataStream, Stat, 12) \
    X(IPortableDeviceDataStream, Clone, 13) X(IPortableDeviceDataStream, GetObjectID, 14) \
    X(IPortableDeviceDataStream, Cancel, 15) \
    X(IPortableDeviceValues, GetCount, 3) X(IPortableDeviceValues, SetStringValue, 7) \
    X(IPortableDeviceValues, GetStringValue, 8) X(IPortableDeviceValues, SetUnsignedIntegerValue, 9) \
    X(IPortableDeviceValues, GetUnsignedIntegerValue, 10) X(IPortableDeviceValues, SetUnsignedLargeIntegerValue, 13) \
    X(IPortableDeviceValues, GetUnsignedLargeIntegerValue, 14) X(IPortableDeviceValues, GetErrorValue, 20) \
    X(IPortableDeviceValues, SetGuidValue, 27) X(IPortableDeviceValues, GetGuidValue, 28) \
    X(IPortableDeviceValues, SetBufferValue, 29) X(IPortableDeviceValues, GetBufferValue, 30) \
    X(IPortableDeviceValues, SetIPortableDevicePropVariantCollectionValue, 33) \
    X(IPortableDeviceValues, GetIPortableDevicePropVariantCollectionValue, 34) X(IPortableDeviceValues, Clear, 42) \
    X(IPortableDeviceKeyCollection, GetCount, 3) X(IPortableDeviceKeyCollection, GetAt, 4) \
    X(IPortableDeviceKeyCollection, Add, 5) X(IPortableDeviceKeyCollection, Clear, 6) \
    X(IPortableDeviceKeyCollection, RemoveAt, 7) \
    X(IPortableDevicePropVariantCollection, GetCount, 3) X(IPortableDevicePropVariantCollection, GetAt, 4) \
    X(IPortableDevicePropVariantCollection, Add, 5) X(IPortableDevicePropVariantCollection, GetType, 6) \
    X(IPortableDevicePropVariantCollection, ChangeType, 7) X(IPortableDevicePropVariantCollection, Clear, 8) \
    X(IPortableDevicePropVariantCollection, RemoveAt, 9) \
    X(IPortableDevicePropertiesBulk, QueueGetValuesByObjectList, 3) \
    X(IPortableDevicePropertiesBulk, QueueGetValuesByObjectFormat, 4) \
    X(IPortableDevicePropertiesBulk, QueueSetValuesByObjectList, 5) X(IPortableDevicePropertiesBulk, Start, 6) \
    X(IPortableDevicePropertiesBulk, Cancel, 7) \
    X(IPortableDevicePropertiesBulkCallback, OnStart, 3) X(IPortableDevicePropertiesBulkCallback, OnProgress, 4) \
    X(IPortableDevicePropertiesBulkCallback, OnEnd, 5) \
    X(IPortableDeviceValuesCollection, GetCount, 3) X(IPortableDeviceValuesCollection, GetAt, 4) \
    X(IPortableDeviceValuesCollection, Add, 5) X(IPortableDeviceValuesCollection, Clear, 6) \
    X(IPortableDeviceValuesCollection, RemoveAt, 7)

#if defined(__i386__) || defined(_M_IX86)
// On 32-bit Windows a COM method must be __stdcall: a method declared without
// STDMETHODCALLTYPE compiles to thiscall and corrupts the stack on the first real call.
// Elsewhere there is one calling convention and nothing to check.
template <class M>
struct IsStdcall : std::false_type {};
template <class C, class R, class... A>
struct IsStdcall<R (__stdcall C::*)(A...)> : std::true_type {};
#define STDCALL_CHECK(I, M, N) \
    static_assert(IsStdcall<decltype(&I::M)>::value, #I "::" #M " must be declared STDMETHODCALLTYPE (__stdcall)");
CONTRACT_METHODS(STDCALL_CHECK)
#endif

struct SlotRow {
    const char *interfaceName;
    const char *method;
    int expected;
    int actual;
};
#define SLOT(I, M, N) {#I, #M, N, SlotOf(&I::M)},

TEST(WpdContract, EveryVtableSlotMatchesTheFactSheet)
{
    const SlotRow rows[] = {
        // Sanity of the decoding itself.
        {"IUnknown", "QueryInterface", 0,
         SlotOf(static_cast<HRESULT (STDMETHODCALLTYPE IUnknown::*)(REFIID, void **)>(&IUnknown::QueryInterface))},
        SLOT(IUnknown, AddRef, 1) SLOT(IUnknown, Release, 2)
        CONTRACT_METHODS(SLOT)
    };
    for (const SlotRow &r : rows)
        EXPECT_EQ(r.expected, r.actual) << r.interfaceName << "::" << r.method << " sits in vtable slot " << r.actual
                                        << " but the portable-device ABI puts it in slot " << r.expected
                                        << ": a call through it would reach the wrong method on Windows";
}

std::string GuidText(const GUID &g)
{
    char text[40];
    snprintf(text, sizeof(text), "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", (unsigned long)g.Data1,
             g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
             g.Data4[7]);
    return text;
}

TEST(WpdContract, InterfaceClassAndTypeGuidsMatchTheFactSheet)
{
    struct Row { const char *name; const GUID *actual; const char *expected; } rows[] = {
        {"IID_IPortableDeviceManager", &IID_IPortableDeviceManager, "a1567595-4c2f-4574-a6fa-ecef917b9a40"},
        {"IID_IPortableDevice", &IID_IPortableDevice, "625e2df8-6392-4cf0-9ad1-3cfa5f17775c"},
        {"IID_IPortableDeviceContent", &IID_IPortableDeviceContent, "6a96ed84-7c73-4480-9938-bf5af477d426"},
        {"IID_IPortableDeviceProperties", &IID_IPortableDeviceProperties, "7f6d695c-03df-4439-a809-59266beee3a6"},
        {"IID_IPortableDeviceResources", &IID_IPortableDeviceResources, "fd8878ac-d841-4d17-891c-e6829cdb6934"},
        {"IID_IEnumPortableDeviceObjectIDs", &IID_IEnumPortableDeviceObjectIDs, "10ece955-cf41-4728-bfa0-41eedf1bbf19"},
        {"IID_IPortableDeviceDataStream", &IID_IPortableDeviceDataStream, "88e04db3-1012-4d64-9996-f703a950d3f4"},
        {"IID_IPortableDeviceCapabilities", &IID_IPortableDeviceCapabilities, "2c8c6dbf-e3dc-4061-becc-8542e810d126"},
        {"IID_IPortableDeviceEventCallback", &IID_IPortableDeviceEventCallback, "a8792a31-f385-493c-a893-40f64eb45f6e"},
        {"IID_IPortableDeviceValues", &IID_IPortableDeviceValues, "6848f6f2-3155-4f86-b6f5-263eeeab3143"},
        {"IID_IPortableDeviceKeyCollection", &IID_IPortableDeviceKeyCollection, "dada2357-e0ad-492e-98db-dd61c53ba353"},
        {"IID_IPortableDevicePropVariantCollection", &IID_IPortableDevicePropVariantCollection,
         "89b2e422-4f1b-4316-bcef-a44afea83eb3"},
        {"IID_IPortableDevicePropertiesBulk", &IID_IPortableDevicePropertiesBulk, "482b05c0-4056-44ed-9e0f-5e23b009da93"},
        {"IID_IPortableDevicePropertiesBulkCallback", &IID_IPortableDevicePropertiesBulkCallback,
         "9deacb80-11e8-40e3-a9f3-f557986a7845"},
        {"IID_IPortableDeviceValuesCollection", &IID_IPortableDeviceValuesCollection, "6e3f2d79-4e07-48c4-8208-d8c2e5af4a99"},
        {"WPD_OBJECT_FORMAT_ALL", &WPD_OBJECT_FORMAT_ALL, "c1f62eb2-4bb3-479c-9cfa-05b5f3a57b22"},
        {"CLSID_PortableDeviceManager", &CLSID_PortableDeviceManager, "0af10cec-2ecd-4b92-9581-34f6ae0637f3"},
        {"CLSID_PortableDevice", &CLSID_PortableDevice, "728a21c5-3d9e-48d7-9810-864848f0f404"},
        {"CLSID_PortableDeviceFTM", &CLSID_PortableDeviceFTM, "f7c0039a-4762-488a-b4b3-760ef9a1ba9b"},
        {"CLSID_PortableDeviceValues", &CLSID_PortableDeviceValues, "0c15d503-d017-47ce-9016-7b3f978721cc"},
        {"CLSID_PortableDeviceKeyCollection", &CLSID_PortableDeviceKeyCollection, "de2d022d-2480-43be-97f0-d1fa2cf98f4f"},
        {"CLSID_PortableDevicePropVariantCollection", &CLSID_PortableDevicePropVariantCollection,
         "08a99e2f-6d6d-4b80-af5a-baf2bcbe4cb9"},
        {"WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT", &WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT, "99ed0160-17ff-4c44-9d98-1d7a6f941921"},
        {"WPD_CONTENT_TYPE_FOLDER", &WPD_CONTENT_TYPE_FOLDER, "27e2e392-a111-48e0-ab0c-e17705a05f85"},
        {"WPD_CONTENT_TYPE_IMAGE", &WPD_CONTENT_TYPE_IMAGE, "ef2107d5-a52a-4243-a26b-62d4176d7603"},
        {"WPD_CONTENT_TYPE_UNSPECIFIED", &WPD_CONTENT_TYPE_UNSPECIFIED, "28d8d31e-249c-454e-aabc-34883168e634"},
        {"WPD_CONTENT_TYPE_DOCUMENT", &WPD_CONTENT_TYPE_DOCUMENT, "680adf52-950a-4041-9b41-65e393648155"},
        {"WPD_OBJECT_FORMAT_EXIF", &WPD_OBJECT_FORMAT_EXIF, "38010000-ae6c-4804-98ba-c57b46965fe7"},
        {"WPD_OBJECT_FORMAT_UNSPECIFIED", &WPD_OBJECT_FORMAT_UNSPECIFIED, "30000000-ae6c-4804-98ba-c57b46965fe7"},
        {"WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS", &WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS,
         "4d545058-1a2e-4106-a357-771e0819fc56"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(r.expected, GuidText(*r.actual)) << r.name << " has the wrong value: the platform would not "
                                                   << "recognise the interface, class or type";
}

TEST(WpdContract, PropertyKeysMatchTheFactSheet)
{
    const char *client = "204d9f0c-2292-4080-9f42-40664e70f859";
    const char *object = "ef6b490d-5cd8-437a-affc-da8b60ee4a3c";
    const char *common = "f0422a9c-5dc8-4440-b5bd-5df28835658a";
    const char *mtp = "4d545058-1a2e-4106-a357-771e0819fc56";
    struct Row { const char *name; const PROPERTYKEY *actual; const char *fmtid; DWORD pid; } rows[] = {
        {"WPD_CLIENT_NAME", &WPD_CLIENT_NAME, client, 2},
        {"WPD_CLIENT_MAJOR_VERSION", &WPD_CLIENT_MAJOR_VERSION, client, 3},
        {"WPD_CLIENT_MINOR_VERSION", &WPD_CLIENT_MINOR_VERSION, client, 4},
        {"WPD_CLIENT_REVISION", &WPD_CLIENT_REVISION, client, 5},
        {"WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE", &WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE, client, 8},
        {"WPD_CLIENT_DESIRED_ACCESS", &WPD_CLIENT_DESIRED_ACCESS, client, 9},
        {"WPD_OBJECT_ID", &WPD_OBJECT_ID, object, 2},
        {"WPD_OBJECT_PARENT_ID", &WPD_OBJECT_PARENT_ID, object, 3},
        {"WPD_OBJECT_NAME", &WPD_OBJECT_NAME, object, 4},
        {"WPD_OBJECT_FORMAT", &WPD_OBJECT_FORMAT, object, 6},
        {"WPD_OBJECT_CONTENT_TYPE", &WPD_OBJECT_CONTENT_TYPE, object, 7},
        {"WPD_OBJECT_SIZE", &WPD_OBJECT_SIZE, object, 11},
        {"WPD_OBJECT_ORIGINAL_FILE_NAME", &WPD_OBJECT_ORIGINAL_FILE_NAME, object, 12},
        {"WPD_RESOURCE_DEFAULT", &WPD_RESOURCE_DEFAULT, "e81e79be-34f0-41bf-b53f-f1a06ae87842", 0},
        {"WPD_PROPERTY_COMMON_COMMAND_CATEGORY", &WPD_PROPERTY_COMMON_COMMAND_CATEGORY, common, 1001},
        {"WPD_PROPERTY_COMMON_COMMAND_ID", &WPD_PROPERTY_COMMON_COMMAND_ID, common, 1002},
        {"WPD_PROPERTY_COMMON_HRESULT", &WPD_PROPERTY_COMMON_HRESULT, common, 1003},
        {"WPD_COMMAND_MTP_EXT_GET_SUPPORTED_VENDOR_OPCODES", &WPD_COMMAND_MTP_EXT_GET_SUPPORTED_VENDOR_OPCODES, mtp, 11},
        {"WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITHOUT_DATA_PHASE", &WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITHOUT_DATA_PHASE, mtp, 12},
        {"WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_READ", &WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_READ, mtp, 13},
        {"WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_WRITE", &WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_WRITE, mtp, 14},
        {"WPD_COMMAND_MTP_EXT_READ_DATA", &WPD_COMMAND_MTP_EXT_READ_DATA, mtp, 15},
        {"WPD_COMMAND_MTP_EXT_WRITE_DATA", &WPD_COMMAND_MTP_EXT_WRITE_DATA, mtp, 16},
        {"WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER", &WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER, mtp, 17},
        {"WPD_COMMAND_MTP_EXT_GET_VENDOR_EXTENSION_DESCRIPTION", &WPD_COMMAND_MTP_EXT_GET_VENDOR_EXTENSION_DESCRIPTION, mtp, 18},
        {"WPD_PROPERTY_MTP_EXT_OPERATION_CODE", &WPD_PROPERTY_MTP_EXT_OPERATION_CODE, mtp, 1001},
        {"WPD_PROPERTY_MTP_EXT_OPERATION_PARAMS", &WPD_PROPERTY_MTP_EXT_OPERATION_PARAMS, mtp, 1002},
        {"WPD_PROPERTY_MTP_EXT_RESPONSE_CODE", &WPD_PROPERTY_MTP_EXT_RESPONSE_CODE, mtp, 1003},
        {"WPD_PROPERTY_MTP_EXT_RESPONSE_PARAMS", &WPD_PROPERTY_MTP_EXT_RESPONSE_PARAMS, mtp, 1004},
        {"WPD_PROPERTY_MTP_EXT_VENDOR_OPERATION_CODES", &WPD_PROPERTY_MTP_EXT_VENDOR_OPERATION_CODES, mtp, 1005},
        {"WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT", &WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, mtp, 1006},
        {"WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE", &WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE, mtp, 1007},
        {"WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_READ", &WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_READ, mtp, 1008},
        {"WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_READ", &WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_READ, mtp, 1009},
        {"WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_WRITE", &WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_WRITE, mtp, 1010},
        {"WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_WRITTEN", &WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_WRITTEN, mtp, 1011},
        {"WPD_PROPERTY_MTP_EXT_TRANSFER_DATA", &WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, mtp, 1012},
        {"WPD_PROPERTY_MTP_EXT_OPTIMAL_TRANSFER_BUFFER_SIZE", &WPD_PROPERTY_MTP_EXT_OPTIMAL_TRANSFER_BUFFER_SIZE, mtp, 1013},
        {"WPD_PROPERTY_MTP_EXT_VENDOR_EXTENSION_DESCRIPTION", &WPD_PROPERTY_MTP_EXT_VENDOR_EXTENSION_DESCRIPTION, mtp, 1014},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(r.fmtid, GuidText(r.actual->fmtid)) << r.name << " has the wrong property set";
        EXPECT_EQ(r.pid, r.actual->pid) << r.name << " has the wrong property id";
    }
}

TEST(WpdContract, ConstantsMatchTheFactSheet)
{
    EXPECT_STREQ(L"DEVICE", WPD_DEVICE_OBJECT_ID) << "the root object's id";
    EXPECT_EQ(0, PORTABLE_DEVICE_DELETE_NO_RECURSION) << "Delete option without recursion";
    EXPECT_EQ(1, PORTABLE_DEVICE_DELETE_WITH_RECURSION) << "Delete option with recursion";
    EXPECT_EQ(0x00020000, SECURITY_IMPERSONATION) << "quality of service sent in the client information";
    EXPECT_EQ(0x80000000u, (unsigned)GENERIC_READ) << "desired access of the read-only retry";
    EXPECT_EQ(0, STGM_READ) << "mode of the download stream";
}

}  // namespace
