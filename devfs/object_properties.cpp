// Property reads of device objects: the keys wanted in one GetValues call, and each value
// read back so that "the device could not read it" never passes for "the object has none".
#include "devfs/devfs_internal.h"

// Reasons a device gives in a VT_ERROR value for a property the object simply does not have.
static int MeansNoSuchProperty(HRESULT reason)
{
    return reason == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) || reason == HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) ||
           reason == E_NOTIMPL;
}

// The layer's reads ask for an object's name, type or size, or several of them: one key
// collection of all three serves every read of the connection, since the device only reads it
// and answers a whole object's properties in one round trip anyway.
static const PROPERTYKEY ReadKeys[] = { WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_SIZE };

static int AmongReadKeys(const PROPERTYKEY *keys, int count)
{
    for (int i = 0; i < count; i++) {
        int known = 0;
        for (size_t k = 0; k < ARRAYSIZE(ReadKeys); k++)
            known |= IsEqualPropertyKey(keys[i], ReadKeys[k]);
        if (!known)
            return 0;
    }
    return 1;
}

void DevReleasePropertyReads(void)
{
    if (DevConnection.readKeys != NULL)
        DevConnection.readKeys->Release();
    if (DevConnection.properties != NULL)
        DevConnection.properties->Release();
    DevConnection.readKeys = NULL;
    DevConnection.properties = NULL;
}

HRESULT DevPropertiesService(IPortableDeviceProperties **out)
{
    HRESULT hr = S_OK;
    if (DevConnection.properties == NULL)
        hr = DevConnection.content->Properties(&DevConnection.properties);
    *out = DevConnection.properties;
    return hr;
}

// GetValues for the given keys of one object. S_FALSE from the device (some value could not
// be read) is a success here: each value says for itself.
static HRESULT RequestValues(IPortableDeviceProperties *properties, LPCWSTR objectId, const PROPERTYKEY *keys,
                             int count, IPortableDeviceValues **values)
{
    IPortableDeviceKeyCollection **kept = AmongReadKeys(keys, count) ? &DevConnection.readKeys : NULL;
    const PROPERTYKEY *asked = kept != NULL ? ReadKeys : keys;
    int askedCount = kept != NULL ? (int)ARRAYSIZE(ReadKeys) : count;
    IPortableDeviceKeyCollection *collection = kept != NULL ? *kept : NULL;
    HRESULT hr = S_OK;
    *values = NULL;
    if (collection == NULL) {
        hr = CoCreateInstance(CLSID_PortableDeviceKeyCollection, NULL, CLSCTX_INPROC_SERVER,
                              IID_IPortableDeviceKeyCollection, (void **)&collection);
        for (int i = 0; SUCCEEDED(hr) && i < askedCount; i++)
            hr = collection->Add(asked[i]);
        if (SUCCEEDED(hr) && kept != NULL)
            *kept = collection;   // released with the connection
    }
    // A value the device could not read because it was busy makes the whole read busy; once
    // the waits are over, each value says for itself again.
    if (SUCCEEDED(hr))
        hr = DevRetryBusy([&] {
            if (*values != NULL)
                (*values)->Release();
            *values = NULL;
            HRESULT read = properties->GetValues(objectId, collection, values);
            for (int i = 0; read == S_FALSE && i < count; i++) {
                HRESULT reason = S_OK;
                if (SUCCEEDED((*values)->GetErrorValue(keys[i], &reason)) && reason == DEV_E_BUSY)
                    read = DEV_E_BUSY;
            }
            return read;
        });
    if (hr == DEV_E_BUSY && *values != NULL)
        hr = S_FALSE;
    if (FAILED(hr) && *values != NULL) {
        (*values)->Release();
        *values = NULL;
    }
    if (collection != NULL && (kept == NULL || *kept != collection))
        collection->Release();
    return FAILED(hr) ? hr : S_OK;
}

// The string under key: S_OK with a string the caller frees, or none when the object lacks
// it; the reason as a failure when the device answered that it could not read it.
static HRESULT TakeString(IPortableDeviceValues *values, REFPROPERTYKEY key, LPWSTR *out)
{
    *out = NULL;
    if (SUCCEEDED(values->GetStringValue(key, out)))
        return S_OK;
    *out = NULL;
    HRESULT reason = S_OK;
    if (FAILED(values->GetErrorValue(key, &reason)) || MeansNoSuchProperty(reason))
        return S_OK;   // absent, or of another type: no such string
    return FAILED(reason) ? reason : E_FAIL;
}

HRESULT GetObjectStringProperty(IPortableDeviceProperties *properties, LPCWSTR objectId,
                                REFPROPERTYKEY key, LPWSTR *out)
{
    IPortableDeviceValues *values = NULL;
    *out = NULL;
    HRESULT hr = RequestValues(properties, objectId, &key, 1, &values);
    if (SUCCEEDED(hr)) {
        hr = TakeString(values, key, out);
        values->Release();
    }
    return hr;
}

HRESULT GetObjectNameAndType(IPortableDeviceProperties *properties, LPCWSTR objectId, LPWSTR *name,
                             GUID *type, BOOL *hasType)
{
    const PROPERTYKEY keys[] = { WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_CONTENT_TYPE };
    IPortableDeviceValues *values = NULL;
    *name = NULL;
    *hasType = FALSE;
    HRESULT hr = RequestValues(properties, objectId, keys, 2, &values);
    if (SUCCEEDED(hr)) {
        // An unreadable type only costs a look at the children.
        *hasType = SUCCEEDED(values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, type));
        hr = TakeString(values, WPD_OBJECT_ORIGINAL_FILE_NAME, name);
        // A storage has no file name to give, and drivers differ in the code they give instead.
        if (FAILED(hr) && *hasType && IsEqualGUID(*type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT))
            hr = S_OK;
        values->Release();
    }
    return hr;
}

HRESULT GetObjectNameAndSize(IPortableDeviceProperties *properties, LPCWSTR objectId, LPWSTR *name, ULONGLONG *size)
{
    const PROPERTYKEY keys[] = { WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_SIZE };
    IPortableDeviceValues *values = NULL;
    *name = NULL;
    *size = DEV_SIZE_UNKNOWN;
    HRESULT hr = RequestValues(properties, objectId, keys, 2, &values);
    if (SUCCEEDED(hr)) {
        // A size the device could not read fails like a name it could not read: without it no
        // read can be checked. An object without a size is never read whole (transfer.cpp).
        HRESULT reason = S_OK;
        if (FAILED(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, size))) {
            *size = DEV_SIZE_UNKNOWN;
            if (SUCCEEDED(values->GetErrorValue(WPD_OBJECT_SIZE, &reason)) && FAILED(reason) &&
                !MeansNoSuchProperty(reason))
                hr = reason;
        }
        if (SUCCEEDED(hr))
            hr = TakeString(values, WPD_OBJECT_ORIGINAL_FILE_NAME, name);
        values->Release();
    }
    return hr;
}
