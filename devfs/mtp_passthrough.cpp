// The MTP pass-through: raw MTP operations through IPortableDevice::SendCommand, for what the
// portable-device calls cannot do: an object's size and bytes as the phone states them now, and
// Android's in-place edit, which keeps the object, its handle and the app's ownership of it.
#include "devfs/devfs_internal.h"

enum {
    MTP_OK = 0x2001,
    MTP_GENERAL_ERROR = 0x2002,
    MTP_DEVICE_BUSY = 0x2019,
    MTP_GET_OBJECT = 0x1009,
    MTP_GET_OBJECT_PROP_VALUE = 0x9803,
    MTP_FIRST_EDIT_OPERATION = 0x95C1,   // GetPartialObject64; Android's five run on to EndEditObject
    MTP_SEND_PARTIAL_OBJECT = 0x95C2,
    MTP_TRUNCATE_OBJECT = 0x95C3,
    MTP_BEGIN_EDIT_OBJECT = 0x95C4,
    MTP_END_EDIT_OBJECT = 0x95C5,
    MTP_OBJECT_SIZE = 0xDC04,
    MTP_OBJECT_FILE_NAME = 0xDC07,
    MTP_CHUNK = 1024,
};
#define MTP_SIZE_UNKNOWN 0xFFFFFFFFu   // a data phase whose length the device does not state

enum { DATA_NONE, DATA_IN, DATA_OUT };

// One operation: its code and parameters, where its data comes from or goes, and what came.
struct MtpOperation {
    DWORD code;
    DWORD params[4];
    DWORD paramCount;
    int data;                // DATA_...
    HANDLE file;             // read from its start (DATA_OUT), written to or compared with from its start (DATA_IN)
    DWORD size;              // DATA_OUT: the bytes to send
    BOOL compare;
    DevReadSink sink;        // DATA_IN: where what comes goes; without a file, a value kept
    BYTE chunk[MTP_CHUNK];   // DATA_OUT: the bytes on their way
};

static void Drop(IUnknown *object)
{
    if (object != NULL)
        object->Release();
}

static HRESULT NewValues(IPortableDeviceValues **values)
{
    return CoCreateInstance(CLSID_PortableDeviceValues, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDeviceValues,
                            (void **)values);
}

// A number in the results; 0 when they lack it, which reads as nothing done.
static DWORD Number(IPortableDeviceValues *results, REFPROPERTYKEY key)
{
    ULONG value = 0;
    if (FAILED(results->GetUnsignedIntegerValue(key, &value)))
        value = 0;
    return value;
}

// One command to the driver, asked again while busy; *results, released first, gets the results
// only when both SendCommand and the driver's own HRESULT in them say it went well. params is
// emptied for the next command.
static HRESULT Command(IPortableDeviceValues *params, REFPROPERTYKEY command, IPortableDeviceValues **results)
{
    Drop(*results);
    *results = NULL;
    if (DevConnection.device == NULL)
        return E_UNEXPECTED;
    HRESULT hr = params->SetGuidValue(WPD_PROPERTY_COMMON_COMMAND_CATEGORY, command.fmtid);
    if (SUCCEEDED(hr))
        hr = params->SetUnsignedIntegerValue(WPD_PROPERTY_COMMON_COMMAND_ID, command.pid);
    if (SUCCEEDED(hr))
        hr = DevRetryBusy([&] {
            Drop(*results);
            *results = NULL;
            HRESULT sent = DevConnection.device->SendCommand(0, params, results);
            HRESULT driver = E_UNEXPECTED;   // results without the driver's answer are no answer
            if (SUCCEEDED(sent) && (*results == NULL || FAILED((*results)->GetErrorValue(WPD_PROPERTY_COMMON_HRESULT, &driver))))
                driver = E_UNEXPECTED;
            return FAILED(sent) ? sent : driver;
        });
    params->Clear();
    if (FAILED(hr)) {
        Drop(*results);
        *results = NULL;
    }
    return hr;
}

// A command of the driver's own, without parameters.
static HRESULT Ask(REFPROPERTYKEY command, IPortableDeviceValues **results)
{
    IPortableDeviceValues *params = NULL;
    HRESULT hr = NewValues(&params);
    if (SUCCEEDED(hr))
        hr = Command(params, command, results);
    Drop(params);
    return hr;
}

// The operation's MTP response as an HRESULT. Device_Busy is a busy device like any other where
// the operation did nothing before it answered.
static HRESULT Response(IPortableDeviceValues *results, BOOL busyIsWaitedFor)
{
    DWORD code = Number(results, WPD_PROPERTY_MTP_EXT_RESPONSE_CODE);
    if (code == MTP_OK)
        return S_OK;
    return code == MTP_DEVICE_BUSY && busyIsWaitedFor ? DEV_E_BUSY : DEV_E_MTP_RESPONSE(code);
}

// Runs the operation once: the command, the data phase in chunks of at most the buffer (or the
// driver's optimal size when smaller), the response. A transfer that began is read to its end and
// ended on every path: one left half done can wedge a phone.
static HRESULT RunOnce(MtpOperation *op)
{
    IPortableDeviceValues *params = NULL, *results = NULL;
    IPortableDevicePropVariantCollection *list = NULL;
    LPWSTR context = NULL;
    BOOL in = op->data == DATA_IN;
    DWORD total = op->size, moved = 0, chunk = MTP_CHUNK;
    DevSinkStart(&op->sink, op->file, op->compare);
    if (op->file != NULL && (SetFilePointer(op->file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
                             (in && !op->compare && !SetEndOfFile(op->file))))
        return E_FAIL;
    HRESULT hr = NewValues(&params);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_PortableDevicePropVariantCollection, NULL, CLSCTX_INPROC_SERVER,
                              IID_IPortableDevicePropVariantCollection, (void **)&list);
    for (DWORD i = 0; SUCCEEDED(hr) && i < op->paramCount; i++) {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_UI4;
        value.ulVal = op->params[i];
        hr = list->Add(&value);
        PropVariantClear(&value);
    }
    if (SUCCEEDED(hr))
        hr = params->SetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_OPERATION_CODE, op->code);
    if (SUCCEEDED(hr))
        hr = params->SetIPortableDevicePropVariantCollectionValue(WPD_PROPERTY_MTP_EXT_OPERATION_PARAMS, list);
    if (SUCCEEDED(hr) && op->data == DATA_OUT)
        hr = params->SetUnsignedLargeIntegerValue(WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE, op->size);
    if (SUCCEEDED(hr))
        hr = Command(params,
                     op->data == DATA_NONE ? WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITHOUT_DATA_PHASE
                     : in                  ? WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_READ
                                           : WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_WRITE,
                     &results);
    if (SUCCEEDED(hr) && op->data == DATA_NONE) {
        hr = Response(results, TRUE);
    } else if (SUCCEEDED(hr)) {
        // The transfer has begun. A driver that names no context (the documentation lets it, for
        // writes) has one transfer under way, which an empty context stands for.
        ULONGLONG stated = MTP_SIZE_UNKNOWN;
        if (FAILED(results->GetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, &context)))
            context = NULL;
        if (in && (FAILED(results->GetUnsignedLargeIntegerValue(WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE, &stated)) ||
                   stated > MTP_SIZE_UNKNOWN))
            stated = MTP_SIZE_UNKNOWN;
        if (in)
            total = (DWORD)stated;
        chunk = Number(results, WPD_PROPERTY_MTP_EXT_OPTIMAL_TRANSFER_BUFFER_SIZE);
        if (chunk == 0 || chunk > MTP_CHUNK)
            chunk = MTP_CHUNK;
        HRESULT phase = S_OK;
        BOOL end = FALSE;
        while (!end) {
            DWORD ask = total - moved < chunk ? total - moved : chunk, done = 0;
            end = FAILED(phase) || ask == 0;
            if (!end && !in && (!ReadFile(op->file, op->chunk, ask, &done, NULL) || done != ask))
                end = FAILED(phase = E_FAIL);
            // The data commands and the end name the transfer; the end is sent on every path.
            hr = params->SetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, context != NULL ? context : L"");
            if (SUCCEEDED(hr) && !end)
                hr = params->SetUnsignedIntegerValue(in ? WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_READ
                                                        : WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_WRITE, ask);
            if (SUCCEEDED(hr) && !end)
                hr = params->SetBufferValue(WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, op->chunk, ask);
            if (SUCCEEDED(hr))
                hr = Command(params,
                             end  ? WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER
                             : in ? WPD_COMMAND_MTP_EXT_READ_DATA
                                  : WPD_COMMAND_MTP_EXT_WRITE_DATA,
                             &results);
            if (end) {
                if (SUCCEEDED(hr))
                    hr = Response(results, in);
                break;
            }
            if (SUCCEEDED(hr))
                done = Number(results, in ? WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_READ
                                          : WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_WRITTEN);
            if (SUCCEEDED(hr) && in) {
                BYTE *data = NULL;
                DWORD dataSize = 0;
                hr = results->GetBufferValue(WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, &data, &dataSize);
                // More than asked, or than the buffer holds: nothing the read says can be trusted.
                if (SUCCEEDED(hr) && (done > ask || done > dataSize))
                    hr = DEV_E_INCOMPLETE;
                if (SUCCEEDED(hr))
                    DevSinkTake(&op->sink, data, done);
                CoTaskMemFree(data);
            } else if (SUCCEEDED(hr) && done != ask) {
                hr = DEV_E_INCOMPLETE;   // a write the device did not take whole
            }
            phase = hr;
            moved += SUCCEEDED(hr) ? done : 0;
            if (done < ask)
                total = moved;   // a short chunk ends what comes
        }
        if (FAILED(phase))
            hr = phase;   // the data phase's failure comes first
        if (SUCCEEDED(hr) && in && (stated == MTP_SIZE_UNKNOWN || moved < stated))
            hr = DEV_E_INCOMPLETE;
    }
    CoTaskMemFree(context);
    Drop(results);
    Drop(list);
    Drop(params);
    return hr;
}

// Runs the operation, again while the device answers busy; a write is never sent twice.
static HRESULT Run(MtpOperation *op)
{
    if (op->data == DATA_OUT)
        return RunOnce(op);
    return DevRetryBusy([&] { return RunOnce(op); });
}

int MtpEditOperations(void)
{
    if (DevConnection.mtpEditAnswer == 0) {
        IPortableDeviceValues *results = NULL;
        IPortableDevicePropVariantCollection *codes = NULL;
        DWORD count = 0, found = 0;
        HRESULT hr = Ask(WPD_COMMAND_MTP_EXT_GET_SUPPORTED_VENDOR_OPCODES, &results);
        if (SUCCEEDED(hr))
            hr = results->GetIPortableDevicePropVariantCollectionValue(WPD_PROPERTY_MTP_EXT_VENDOR_OPERATION_CODES, &codes);
        if (SUCCEEDED(hr))
            hr = codes->GetCount(&count);
        // A list not read to its end says nothing of what it lacks: the operations are tried.
        for (DWORD i = 0; SUCCEEDED(hr) && i < count; i++) {
            PROPVARIANT code;
            PropVariantInit(&code);
            hr = codes->GetAt(i, &code);
            if (SUCCEEDED(hr) && code.vt == VT_UI4 && code.ulVal - MTP_FIRST_EDIT_OPERATION < 5)
                found |= 1u << (code.ulVal - MTP_FIRST_EDIT_OPERATION);
            PropVariantClear(&code);
        }
        DevConnection.mtpEditAnswer =
            1 + (FAILED(hr) ? MTP_EDIT_UNANSWERED : found == 0x1F ? MTP_EDIT_LISTED : MTP_EDIT_NOT_LISTED);
        Drop(codes);
        Drop(results);
    }
    return DevConnection.mtpEditAnswer - 1;
}

HRESULT MtpVendorExtension(WCHAR *out)
{
    IPortableDeviceValues *results = NULL;
    LPWSTR text = NULL;
    out[0] = L'\0';
    HRESULT hr = Ask(WPD_COMMAND_MTP_EXT_GET_VENDOR_EXTENSION_DESCRIPTION, &results);
    if (SUCCEEDED(hr) && FAILED(hr = results->GetStringValue(WPD_PROPERTY_MTP_EXT_VENDOR_EXTENSION_DESCRIPTION, &text)))
        text = NULL;
    if (SUCCEEDED(hr))
        lstrcpynW(out, text, DEV_PATH_CHARS);
    CoTaskMemFree(text);
    Drop(results);
    return hr;
}

// GetObjectPropValue of one property: the value's bytes in op->sink.local, their count in op->sink.digest.size.
static HRESULT PropertyValue(MtpOperation *op, DWORD handle, DWORD property)
{
    op->code = MTP_GET_OBJECT_PROP_VALUE;
    op->params[0] = handle;
    op->params[1] = property;
    op->paramCount = 2;
    op->data = DATA_IN;
    return Run(op);
}

HRESULT MtpHandleOf(LPCWSTR objectId, LPCWSTR name, DWORD *handle)
{
    MtpOperation op = {};
    DWORD number = 0;
    *handle = 0;
    if (objectId == NULL || name == NULL || objectId[0] != L'o' || objectId[1] == L'\0')
        return DEV_E_MTP_NOT_A_HANDLE;
    for (LPCWSTR p = objectId + 1; *p != L'\0'; p++) {
        DWORD digit = (DWORD)*p - L'0';
        if (digit > 9)
            digit = (DWORD)(*p | 0x20) - L'a' + 10;   // 'A' to 'F' folded; anything else far above 15
        if (digit > 15 || number > 0x0FFFFFFF)
            return DEV_E_MTP_NOT_A_HANDLE;
        number = number << 4 | digit;
    }
    if (number == 0 || number == 0xFFFFFFFF)
        return DEV_E_MTP_NOT_A_HANDLE;   // no object has a reserved handle
    HRESULT hr = PropertyValue(&op, number, MTP_OBJECT_FILE_NAME);
    if (FAILED(hr))
        return hr;
    // An MTP string: the count of UTF-16 units with the terminating NUL, then the units (little
    // endian, as Windows is); an empty string is the count 0 alone. The units move to the start.
    BYTE *value = op.sink.local;
    DWORD chars = value[0] > 0 ? value[0] - 1u : 0;
    if (op.sink.digest.size >= 1u + 2u * value[0]) {
        MoveMemory(value, value + 1, 2 * chars);
        ((WCHAR *)value)[chars] = L'\0';
        if (DevNameEqual((const WCHAR *)value, name)) {
            *handle = number;
            return S_OK;
        }
    }
    return DEV_E_MTP_HANDLE_MISMATCH;
}

HRESULT MtpObjectSize(DWORD handle, ULONGLONG *size)
{
    MtpOperation op = {};
    *size = DEV_SIZE_UNKNOWN;
    HRESULT hr = PropertyValue(&op, handle, MTP_OBJECT_SIZE);
    if (SUCCEEDED(hr) && op.sink.digest.size != sizeof *size)
        hr = E_UNEXPECTED;   // a UINT64 is eight bytes
    if (SUCCEEDED(hr))
        CopyMemory(size, op.sink.local, sizeof *size);   // little endian, as Windows is
    return hr;
}

HRESULT MtpReadObject(DWORD handle, HANDLE file, BOOL compare, DevDigest *seen)
{
    MtpOperation op = { MTP_GET_OBJECT, { handle }, 1, DATA_IN, file, 0, compare };
    HRESULT hr = DevSinkEnd(&op.sink, Run(&op));
    if (SUCCEEDED(hr) && seen != NULL)
        *seen = op.sink.digest;
    return hr;
}

// A step of the edit session that has no data: its parameters are the handle and zero offsets.
static HRESULT EditStep(DWORD code, DWORD handle)
{
    MtpOperation op = { code, { handle }, code == MTP_TRUNCATE_OBJECT ? 3u : 1u, DATA_NONE };
    return Run(&op);
}

HRESULT MtpRewriteInPlace(DWORD handle, HANDLE file, DWORD size, int *touched)
{
    *touched = 0;
    // A local file that cannot be read from its start never begins an edit.
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return E_FAIL;
    HRESULT hr = EditStep(MTP_BEGIN_EDIT_OBJECT, handle);
    // An edit a killed run left open keeps the file from a new one until it is ended.
    if (hr == DEV_E_MTP_RESPONSE(MTP_GENERAL_ERROR)) {
        EditStep(MTP_END_EDIT_OBJECT, handle);
        hr = EditStep(MTP_BEGIN_EDIT_OBJECT, handle);
    }
    if (FAILED(hr))
        return hr;
    // Emptied first: some devices only extend a file from its current end.
    *touched = 1;
    hr = EditStep(MTP_TRUNCATE_OBJECT, handle);
    if (SUCCEEDED(hr) && size > 0) {
        MtpOperation op = { MTP_SEND_PARTIAL_OBJECT, { handle, 0, 0, size }, 4, DATA_OUT, file, size };
        hr = Run(&op);
    }
    // Ended on every path: an edit left open keeps the file from the app until the phone reconnects.
    HRESULT ended = EditStep(MTP_END_EDIT_OBJECT, handle);
    return FAILED(hr) ? hr : ended;
}
