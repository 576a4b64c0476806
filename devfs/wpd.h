// The portable-device COM contract: interfaces, class ids and property keys that the
// layer uses, declared here because the MinGW headers lack them. Vtable order matters:
// a slot out of place calls the wrong method on a real device.
#ifndef TESSALY_WPD_H
#define TESSALY_WPD_H

#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <propkeydef.h>
#include <portabledevicetypes.h>

struct IPortableDeviceContent;
struct IPortableDeviceProperties;
struct IPortableDeviceResources;
struct IEnumPortableDeviceObjectIDs;
struct IPortableDeviceCapabilities;    // only ever passed as an opaque pointer
struct IPortableDeviceEventCallback;   // only ever passed as an opaque pointer
struct IPortableDevicePropertiesBulkCallback;

DEFINE_GUID(IID_IPortableDeviceManager, 0xa1567595, 0x4c2f, 0x4574, 0xa6, 0xfa, 0xec, 0xef, 0x91, 0x7b, 0x9a, 0x40);
DEFINE_GUID(IID_IPortableDevice, 0x625e2df8, 0x6392, 0x4cf0, 0x9a, 0xd1, 0x3c, 0xfa, 0x5f, 0x17, 0x77, 0x5c);
DEFINE_GUID(IID_IPortableDeviceContent, 0x6a96ed84, 0x7c73, 0x4480, 0x99, 0x38, 0xbf, 0x5a, 0xf4, 0x77, 0xd4, 0x26);
DEFINE_GUID(IID_IPortableDeviceProperties, 0x7f6d695c, 0x03df, 0x4439, 0xa8, 0x09, 0x59, 0x26, 0x6b, 0xee, 0xe3, 0xa6);
DEFINE_GUID(IID_IPortableDeviceResources, 0xfd8878ac, 0xd841, 0x4d17, 0x89, 0x1c, 0xe6, 0x82, 0x9c, 0xdb, 0x69, 0x34);
DEFINE_GUID(IID_IEnumPortableDeviceObjectIDs, 0x10ece955, 0xcf41, 0x4728, 0xbf, 0xa0, 0x41, 0xee, 0xdf, 0x1b, 0xbf, 0x19);
DEFINE_GUID(IID_IPortableDeviceDataStream, 0x88e04db3, 0x1012, 0x4d64, 0x99, 0x96, 0xf7, 0x03, 0xa9, 0x50, 0xd3, 0xf4);
DEFINE_GUID(IID_IPortableDeviceCapabilities, 0x2c8c6dbf, 0xe3dc, 0x4061, 0xbe, 0xcc, 0x85, 0x42, 0xe8, 0x10, 0xd1, 0x26);
DEFINE_GUID(IID_IPortableDeviceEventCallback, 0xa8792a31, 0xf385, 0x493c, 0xa8, 0x93, 0x40, 0xf6, 0x4e, 0xb4, 0x5f, 0x6e);
DEFINE_GUID(IID_IPortableDevicePropertiesBulk, 0x482b05c0, 0x4056, 0x44ed, 0x9e, 0x0f, 0x5e, 0x23, 0xb0, 0x09, 0xda, 0x93);
DEFINE_GUID(IID_IPortableDevicePropertiesBulkCallback, 0x9deacb80, 0x11e8, 0x40e3, 0xa9, 0xf3, 0xf5, 0x57, 0x98, 0x6a, 0x78, 0x45);

DEFINE_GUID(CLSID_PortableDeviceManager, 0x0af10cec, 0x2ecd, 0x4b92, 0x95, 0x81, 0x34, 0xf6, 0xae, 0x06, 0x37, 0xf3);
DEFINE_GUID(CLSID_PortableDevice, 0x728a21c5, 0x3d9e, 0x48d7, 0x98, 0x10, 0x86, 0x48, 0x48, 0xf0, 0xf4, 0x04);
DEFINE_GUID(CLSID_PortableDeviceFTM, 0xf7c0039a, 0x4762, 0x488a, 0xb4, 0xb3, 0x76, 0x0e, 0xf9, 0xa1, 0xba, 0x9b);
DEFINE_GUID(CLSID_PortableDeviceKeyCollection, 0xde2d022d, 0x2480, 0x43be, 0x97, 0xf0, 0xd1, 0xfa, 0x2c, 0xf9, 0x8f, 0x4f);
DEFINE_GUID(CLSID_PortableDevicePropVariantCollection, 0x08a99e2f, 0x6d6d, 0x4b80, 0xaf, 0x5a, 0xba, 0xf2, 0xbc, 0xbe, 0x4c, 0xb9);
// CLSID_PortableDeviceValues comes with portabledevicetypes.h.

DEFINE_PROPERTYKEY(WPD_CLIENT_NAME, 0x204D9F0C, 0x2292, 0x4080, 0x9F, 0x42, 0x40, 0x66, 0x4E, 0x70, 0xF8, 0x59, 2);
DEFINE_PROPERTYKEY(WPD_CLIENT_MAJOR_VERSION, 0x204D9F0C, 0x2292, 0x4080, 0x9F, 0x42, 0x40, 0x66, 0x4E, 0x70, 0xF8, 0x59, 3);
DEFINE_PROPERTYKEY(WPD_CLIENT_MINOR_VERSION, 0x204D9F0C, 0x2292, 0x4080, 0x9F, 0x42, 0x40, 0x66, 0x4E, 0x70, 0xF8, 0x59, 4);
DEFINE_PROPERTYKEY(WPD_CLIENT_REVISION, 0x204D9F0C, 0x2292, 0x4080, 0x9F, 0x42, 0x40, 0x66, 0x4E, 0x70, 0xF8, 0x59, 5);
DEFINE_PROPERTYKEY(WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE, 0x204D9F0C, 0x2292, 0x4080, 0x9F, 0x42, 0x40, 0x66, 0x4E, 0x70, 0xF8, 0x59, 8);
DEFINE_PROPERTYKEY(WPD_CLIENT_DESIRED_ACCESS, 0x204D9F0C, 0x2292, 0x4080, 0x9F, 0x42, 0x40, 0x66, 0x4E, 0x70, 0xF8, 0x59, 9);
DEFINE_PROPERTYKEY(WPD_OBJECT_ID, 0xEF6B490D, 0x5CD8, 0x437A, 0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C, 2);
DEFINE_PROPERTYKEY(WPD_OBJECT_PARENT_ID, 0xEF6B490D, 0x5CD8, 0x437A, 0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C, 3);
DEFINE_PROPERTYKEY(WPD_OBJECT_NAME, 0xEF6B490D, 0x5CD8, 0x437A, 0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C, 4);
DEFINE_PROPERTYKEY(WPD_OBJECT_FORMAT, 0xEF6B490D, 0x5CD8, 0x437A, 0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C, 6);
DEFINE_PROPERTYKEY(WPD_OBJECT_CONTENT_TYPE, 0xEF6B490D, 0x5CD8, 0x437A, 0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C, 7);
DEFINE_PROPERTYKEY(WPD_OBJECT_SIZE, 0xEF6B490D, 0x5CD8, 0x437A, 0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C, 11);
DEFINE_PROPERTYKEY(WPD_OBJECT_ORIGINAL_FILE_NAME, 0xEF6B490D, 0x5CD8, 0x437A, 0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C, 12);
// The DEVICE object's description of the handheld (WPD_DEVICE_PROPERTIES_V1).
DEFINE_PROPERTYKEY(WPD_DEVICE_FIRMWARE_VERSION, 0x26D4979A, 0xE643, 0x4626, 0x9E, 0x2B, 0x73, 0x6D, 0xC0, 0xC9, 0x2F, 0xDC, 3);
DEFINE_PROPERTYKEY(WPD_DEVICE_MANUFACTURER, 0x26D4979A, 0xE643, 0x4626, 0x9E, 0x2B, 0x73, 0x6D, 0xC0, 0xC9, 0x2F, 0xDC, 7);
DEFINE_PROPERTYKEY(WPD_DEVICE_MODEL, 0x26D4979A, 0xE643, 0x4626, 0x9E, 0x2B, 0x73, 0x6D, 0xC0, 0xC9, 0x2F, 0xDC, 8);
DEFINE_PROPERTYKEY(WPD_DEVICE_FRIENDLY_NAME, 0x26D4979A, 0xE643, 0x4626, 0x9E, 0x2B, 0x73, 0x6D, 0xC0, 0xC9, 0x2F, 0xDC, 12);
DEFINE_PROPERTYKEY(WPD_RESOURCE_DEFAULT, 0xE81E79BE, 0x34F0, 0x41BF, 0xB5, 0x3F, 0xF1, 0xA0, 0x6A, 0xE8, 0x78, 0x42, 0);

// Raw MTP operations through IPortableDevice::SendCommand: a command names its category and id
// in the parameters, and the driver's own answer comes back in the results.
DEFINE_PROPERTYKEY(WPD_PROPERTY_COMMON_COMMAND_CATEGORY, 0xF0422A9C, 0x5DC8, 0x4440, 0xB5, 0xBD, 0x5D, 0xF2, 0x88, 0x35, 0x65, 0x8A, 1001);
DEFINE_PROPERTYKEY(WPD_PROPERTY_COMMON_COMMAND_ID, 0xF0422A9C, 0x5DC8, 0x4440, 0xB5, 0xBD, 0x5D, 0xF2, 0x88, 0x35, 0x65, 0x8A, 1002);
DEFINE_PROPERTYKEY(WPD_PROPERTY_COMMON_HRESULT, 0xF0422A9C, 0x5DC8, 0x4440, 0xB5, 0xBD, 0x5D, 0xF2, 0x88, 0x35, 0x65, 0x8A, 1003);
DEFINE_GUID(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 0x4D545058, 0x1A2E, 0x4106, 0xA3, 0x57, 0x77, 0x1E, 0x08, 0x19, 0xFC, 0x56);
#define WPD_MTP_EXT_KEY(name, pid) \
    DEFINE_PROPERTYKEY(name, 0x4D545058, 0x1A2E, 0x4106, 0xA3, 0x57, 0x77, 0x1E, 0x08, 0x19, 0xFC, 0x56, pid)
WPD_MTP_EXT_KEY(WPD_COMMAND_MTP_EXT_GET_SUPPORTED_VENDOR_OPCODES, 11);
WPD_MTP_EXT_KEY(WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITHOUT_DATA_PHASE, 12);
WPD_MTP_EXT_KEY(WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_READ, 13);
WPD_MTP_EXT_KEY(WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_WRITE, 14);
WPD_MTP_EXT_KEY(WPD_COMMAND_MTP_EXT_READ_DATA, 15);
WPD_MTP_EXT_KEY(WPD_COMMAND_MTP_EXT_WRITE_DATA, 16);
WPD_MTP_EXT_KEY(WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER, 17);
WPD_MTP_EXT_KEY(WPD_COMMAND_MTP_EXT_GET_VENDOR_EXTENSION_DESCRIPTION, 18);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_OPERATION_CODE, 1001);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_OPERATION_PARAMS, 1002);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_RESPONSE_CODE, 1003);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_RESPONSE_PARAMS, 1004);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_VENDOR_OPERATION_CODES, 1005);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, 1006);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE, 1007);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_READ, 1008);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_READ, 1009);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_WRITE, 1010);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_WRITTEN, 1011);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, 1012);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_OPTIMAL_TRANSFER_BUFFER_SIZE, 1013);
WPD_MTP_EXT_KEY(WPD_PROPERTY_MTP_EXT_VENDOR_EXTENSION_DESCRIPTION, 1014);

DEFINE_GUID(WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT, 0x99ED0160, 0x17FF, 0x4C44, 0x9D, 0x98, 0x1D, 0x7A, 0x6F, 0x94, 0x19, 0x21);
DEFINE_GUID(WPD_CONTENT_TYPE_FOLDER, 0x27E2E392, 0xA111, 0x48E0, 0xAB, 0x0C, 0xE1, 0x77, 0x05, 0xA0, 0x5F, 0x85);
DEFINE_GUID(WPD_CONTENT_TYPE_IMAGE, 0xEF2107D5, 0xA52A, 0x4243, 0xA2, 0x6B, 0x62, 0xD4, 0x17, 0x6D, 0x76, 0x03);
DEFINE_GUID(WPD_CONTENT_TYPE_DOCUMENT, 0x680ADF52, 0x950A, 0x4041, 0x9B, 0x41, 0x65, 0xE3, 0x93, 0x64, 0x81, 0x55);
DEFINE_GUID(WPD_CONTENT_TYPE_UNSPECIFIED, 0x28D8D31E, 0x249C, 0x454E, 0xAA, 0xBC, 0x34, 0x88, 0x31, 0x68, 0xE6, 0x34);
DEFINE_GUID(WPD_OBJECT_FORMAT_EXIF, 0x38010000, 0xAE6C, 0x4804, 0x98, 0xBA, 0xC5, 0x7B, 0x46, 0x96, 0x5F, 0xE7);
DEFINE_GUID(WPD_OBJECT_FORMAT_ALL, 0xC1F62EB2, 0x4BB3, 0x479C, 0x9C, 0xFA, 0x05, 0xB5, 0xF3, 0xA5, 0x7B, 0x22);
DEFINE_GUID(WPD_OBJECT_FORMAT_UNSPECIFIED, 0x30000000, 0xAE6C, 0x4804, 0x98, 0xBA, 0xC5, 0x7B, 0x46, 0x96, 0x5F, 0xE7);

#define WPD_DEVICE_OBJECT_ID L"DEVICE"
enum { PORTABLE_DEVICE_DELETE_NO_RECURSION = 0, PORTABLE_DEVICE_DELETE_WITH_RECURSION = 1 };
#ifndef SECURITY_IMPERSONATION
#define SECURITY_IMPERSONATION (SecurityImpersonation << 16)
#endif

struct IPortableDeviceManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR *deviceIds, DWORD *count) = 0;                 // 3
    virtual HRESULT STDMETHODCALLTYPE RefreshDeviceList() = 0;                                          // 4
    virtual HRESULT STDMETHODCALLTYPE GetDeviceFriendlyName(LPCWSTR pnpId, WCHAR *name, DWORD *chars) = 0;   // 5
    virtual HRESULT STDMETHODCALLTYPE GetDeviceDescription(LPCWSTR pnpId, WCHAR *text, DWORD *chars) = 0;    // 6
    virtual HRESULT STDMETHODCALLTYPE GetDeviceManufacturer(LPCWSTR pnpId, WCHAR *text, DWORD *chars) = 0;   // 7
    virtual HRESULT STDMETHODCALLTYPE GetDeviceProperty(LPCWSTR pnpId, LPCWSTR name, BYTE *data,
                                                        DWORD *bytes, DWORD *type) = 0;                  // 8
    virtual HRESULT STDMETHODCALLTYPE GetPrivateDevices(LPWSTR *deviceIds, DWORD *count) = 0;           // 9
};

struct IPortableDevice : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Open(LPCWSTR pnpId, IPortableDeviceValues *clientInfo) = 0;     // 3
    virtual HRESULT STDMETHODCALLTYPE SendCommand(const DWORD flags, IPortableDeviceValues *params,
                                                  IPortableDeviceValues **results) = 0;               // 4
    virtual HRESULT STDMETHODCALLTYPE Content(IPortableDeviceContent **content) = 0;                  // 5
    virtual HRESULT STDMETHODCALLTYPE Capabilities(IPortableDeviceCapabilities **capabilities) = 0;   // 6
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;                                                    // 7
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                                     // 8
    virtual HRESULT STDMETHODCALLTYPE Advise(const DWORD flags, IPortableDeviceEventCallback *callback,
                                             IPortableDeviceValues *params, LPWSTR *cookie) = 0;      // 9
    virtual HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR cookie) = 0;                                    // 10
    virtual HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR *pnpId) = 0;                               // 11
};

struct IPortableDeviceContent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumObjects(const DWORD flags, LPCWSTR parentId,
                                                  IPortableDeviceValues *filter,
                                                  IEnumPortableDeviceObjectIDs **enumerator) = 0;    // 3
    virtual HRESULT STDMETHODCALLTYPE Properties(IPortableDeviceProperties **properties) = 0;        // 4
    virtual HRESULT STDMETHODCALLTYPE Transfer(IPortableDeviceResources **resources) = 0;            // 5
    virtual HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesOnly(IPortableDeviceValues *values,
                                                                     LPWSTR *objectId) = 0;          // 6
    virtual HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesAndData(IPortableDeviceValues *values,
                                                                        IStream **data,
                                                                        DWORD *optimalBufferSize,
                                                                        LPWSTR *cookie) = 0;         // 7
    virtual HRESULT STDMETHODCALLTYPE Delete(const DWORD options, IPortableDevicePropVariantCollection *objectIds,
                                             IPortableDevicePropVariantCollection **results) = 0;    // 8
    virtual HRESULT STDMETHODCALLTYPE GetObjectIDsFromPersistentUniqueIDs(
        IPortableDevicePropVariantCollection *uniqueIds, IPortableDevicePropVariantCollection **objectIds) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;                                                   // 10
    virtual HRESULT STDMETHODCALLTYPE Move(IPortableDevicePropVariantCollection *objectIds, LPCWSTR destinationId,
                                           IPortableDevicePropVariantCollection **results) = 0;      // 11
    virtual HRESULT STDMETHODCALLTYPE Copy(IPortableDevicePropVariantCollection *objectIds, LPCWSTR destinationId,
                                           IPortableDevicePropVariantCollection **results) = 0;      // 12
};

struct IPortableDeviceProperties : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSupportedProperties(LPCWSTR objectId, IPortableDeviceKeyCollection **keys) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE GetPropertyAttributes(LPCWSTR objectId, REFPROPERTYKEY key,
                                                            IPortableDeviceValues **attributes) = 0;                     // 4
    virtual HRESULT STDMETHODCALLTYPE GetValues(LPCWSTR objectId, IPortableDeviceKeyCollection *keys,
                                                IPortableDeviceValues **values) = 0;                                     // 5
    virtual HRESULT STDMETHODCALLTYPE SetValues(LPCWSTR objectId, IPortableDeviceValues *values,
                                                IPortableDeviceValues **results) = 0;                                    // 6
    virtual HRESULT STDMETHODCALLTYPE Delete(LPCWSTR objectId, IPortableDeviceKeyCollection *keys) = 0;                  // 7
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;                                                                      // 8
};

struct IPortableDeviceResources : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSupportedResources(LPCWSTR objectId, IPortableDeviceKeyCollection **keys) = 0;   // 3
    virtual HRESULT STDMETHODCALLTYPE GetResourceAttributes(LPCWSTR objectId, REFPROPERTYKEY key,
                                                            IPortableDeviceValues **attributes) = 0;                      // 4
    virtual HRESULT STDMETHODCALLTYPE GetStream(LPCWSTR objectId, REFPROPERTYKEY key, const DWORD mode,
                                                DWORD *optimalBufferSize, IStream **stream) = 0;                          // 5
    virtual HRESULT STDMETHODCALLTYPE Delete(LPCWSTR objectId, IPortableDeviceKeyCollection *keys) = 0;                   // 6
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;                                                                       // 7
    virtual HRESULT STDMETHODCALLTYPE CreateResource(IPortableDeviceValues *attributes, IStream **data,
                                                     DWORD *optimalBufferSize, LPWSTR *cookie) = 0;                       // 8
};

struct IEnumPortableDeviceObjectIDs : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, LPWSTR *objectIds, ULONG *fetched) = 0;       // 3
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;                                           // 4
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;                                                     // 5
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumPortableDeviceObjectIDs **enumerator) = 0;            // 6
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;                                                    // 7
};

struct IPortableDeviceDataStream : public IStream {
    virtual HRESULT STDMETHODCALLTYPE GetObjectID(LPWSTR *objectId) = 0;   // 14
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;                        // 15
};

// Bulk property reads: queued requests whose results come to a callback on another thread,
// in no order. A device without bulk support refuses the QueryInterface from the properties.
struct IPortableDevicePropertiesBulk : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectList(IPortableDevicePropVariantCollection *objectIds,
                                                                 IPortableDeviceKeyCollection *keys,
                                                                 IPortableDevicePropertiesBulkCallback *callback,
                                                                 GUID *context) = 0;                           // 3
    virtual HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectFormat(REFGUID format, LPCWSTR parentId, DWORD depth,
                                                                   IPortableDeviceKeyCollection *keys,
                                                                   IPortableDevicePropertiesBulkCallback *callback,
                                                                   GUID *context) = 0;                         // 4
    virtual HRESULT STDMETHODCALLTYPE QueueSetValuesByObjectList(IPortableDeviceValuesCollection *values,
                                                                 IPortableDevicePropertiesBulkCallback *callback,
                                                                 GUID *context) = 0;                           // 5
    virtual HRESULT STDMETHODCALLTYPE Start(REFGUID context) = 0;                                              // 6
    virtual HRESULT STDMETHODCALLTYPE Cancel(REFGUID context) = 0;                                             // 7
};

struct IPortableDevicePropertiesBulkCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnStart(REFGUID context) = 0;                                            // 3
    virtual HRESULT STDMETHODCALLTYPE OnProgress(REFGUID context, IPortableDeviceValuesCollection *results) = 0;  // 4
    virtual HRESULT STDMETHODCALLTYPE OnEnd(REFGUID context, HRESULT status) = 0;                              // 5
};

#endif
