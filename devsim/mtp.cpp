// The MTP pass-through of the simulated driver: IPortableDevice::SendCommand with the commands of
// the vendor-operation category, an operation's data phase as a transfer named by a context, and
// what the driver answers itself from what it learnt at connect.
#include <stdio.h>
#include "devsim_internal.h"

namespace {
// The commands, by their property id in the category.
enum {
    GET_OPCODES = 11,
    WITHOUT_DATA = 12,
    WITH_DATA_TO_READ = 13,
    WITH_DATA_TO_WRITE = 14,
    READ_DATA = 15,
    WRITE_DATA = 16,
    END_TRANSFER = 17,
    GET_EXTENSION = 18,
};
const WORD INCOMPLETE_TRANSFER = 0x2007;
const DWORD SEND_PARTIAL_OBJECT = 0x95C2;

struct Transfer {
    int device = -1;
    DWORD code = 0;
    std::vector<DWORD> params;
    std::wstring objectId;
    bool toHost = false;
    SimMtpAnswer answer;       // what the operation answers at the end; to the host, its data too
    size_t position = 0;       // to the host: how far the data was read
    ULONGLONG total = 0;       // to the device: the bytes announced
    ULONGLONG received = 0;
    HRESULT after = S_OK;      // a rule's failure, for the end once the operation has acted
};
struct Transfers {
    std::map<std::wstring, Transfer> open;
    long next = 0;
    long endedEarly = 0;       // to the host, ended with data left
};
Transfers &Book()
{
    static Transfers book;
    return book;
}

// What a command's parameters hold.
struct Request {
    bool ours = false;
    bool mtp = false;          // the vendor-operation category
    DWORD command = 0;
    bool hasCode = false, hasParams = true, hasContext = false, hasCount = false, hasData = false, hasTotal = false;
    DWORD code = 0, count = 0;
    std::vector<DWORD> params;
    std::wstring context;
    std::string data;
    ULONGLONG total = 0;
};

Request Parse(IPortableDeviceValues *values)
{
    Request q;
    SimValueList list;
    q.ours = SimReadValues(values, &list);
    for (const auto &entry : list) {
        const PROPERTYKEY &k = entry.first;
        const SimValue &v = entry.second;
        if (SimKeyEqual(k, WPD_PROPERTY_COMMON_COMMAND_CATEGORY) && v.type == VT_CLSID) {
            q.mtp = IsEqualGUID(v.guid, WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS);
        } else if (SimKeyEqual(k, WPD_PROPERTY_COMMON_COMMAND_ID) && v.type == VT_UI4) {
            q.command = (DWORD)v.number;
        } else if (SimKeyEqual(k, WPD_PROPERTY_MTP_EXT_OPERATION_CODE) && v.type == VT_UI4) {
            q.hasCode = true;
            q.code = (DWORD)v.number;
        } else if (SimKeyEqual(k, WPD_PROPERTY_MTP_EXT_OPERATION_PARAMS)) {
            q.hasParams = v.type == VT_UNKNOWN && v.items.size() <= 5;
            for (const SimValue &item : v.items) {
                q.hasParams = q.hasParams && item.type == VT_UI4;
                q.params.push_back((DWORD)item.number);
            }
        } else if (SimKeyEqual(k, WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT) && v.type == VT_LPWSTR) {
            q.hasContext = true;
            q.context = v.text;
        } else if ((SimKeyEqual(k, WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_READ) ||
                    SimKeyEqual(k, WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_WRITE)) && v.type == VT_UI4) {
            q.hasCount = true;
            q.count = (DWORD)v.number;
        } else if (SimKeyEqual(k, WPD_PROPERTY_MTP_EXT_TRANSFER_DATA) && v.type == (VT_VECTOR | VT_UI1)) {
            q.hasData = true;
            q.data = v.bytes;
        } else if (SimKeyEqual(k, WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE) && v.type == VT_UI8) {
            q.hasTotal = true;
            q.total = v.number;
        }
    }
    return q;
}

SimValue Number(VARTYPE type, ULONGLONG number)
{
    SimValue v;
    v.type = type;
    v.number = number;
    return v;
}

SimValue Collection(const std::vector<DWORD> &numbers)
{
    SimValue v;
    v.type = VT_UNKNOWN;
    for (DWORD n : numbers) v.items.push_back(Number(VT_UI4, n));
    return v;
}

SimValue Text(const std::wstring &text)
{
    SimValue v;
    v.type = VT_LPWSTR;
    v.text = text;
    return v;
}

// The operations whose first parameter is an object handle.
bool HandleFirst(DWORD code)
{
    return code == 0x1009 || code == 0x9803 || (code >= 0x95C1 && code <= 0x95C5);
}

std::wstring IdOfHandle(DWORD handle)
{
    wchar_t id[16];
    swprintf(id, 16, L"o%lX", (unsigned long)handle);
    return id;
}

// The results of an operation's response, with a rule's response code in place of the device's.
void PutResponse(SimValueList *out, const SimMtpAnswer &answer, WORD forced)
{
    out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_RESPONSE_CODE, Number(VT_UI4, forced ? forced : answer.response)));
    out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_RESPONSE_PARAMS, Collection(forced ? std::vector<DWORD>() : answer.params)));
}

HRESULT DriverQuery(int device, const Request &q, SimValueList *out)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    if (!d) return E_UNEXPECTED;
    bool editing = d->editOps != DEVSIM_EDIT_ABSENT;
    if (q.command == GET_EXTENSION) {
        out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_VENDOR_EXTENSION_DESCRIPTION,
                                      Text(editing ? L"microsoft.com: 1.0; android.com: 1.0;" : L"microsoft.com: 1.0;")));
        return S_OK;
    }
    if (d->editOps == DEVSIM_EDIT_UNANSWERED) return E_NOTIMPL;
    std::vector<DWORD> codes = {0x9801, 0x9802, 0x9803, 0x9804, 0x9805, 0x9810};
    if (d->editOps == DEVSIM_EDIT_LISTED) codes.insert(codes.end(), {0x95C1, 0x95C2, 0x95C3, 0x95C4, 0x95C5});
    out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_VENDOR_OPERATION_CODES, Collection(codes)));
    return S_OK;
}

// An operation's command: without data it runs and answers at once; with data it runs (sending to
// the host) or checks it may run (receiving), and a transfer begins. *call: the call's own
// failure once it has acted (a rule after acting).
HRESULT Execute(int device, bool readOnly, const Request &q, WORD forced, HRESULT after, HRESULT *call,
                SimValueList *out)
{
    SimMtpData wanted = q.command == WITHOUT_DATA ? SIM_MTP_NO_DATA : q.command == WITH_DATA_TO_READ ? SIM_MTP_TO_HOST
                                                                                                    : SIM_MTP_TO_DEVICE;
    if (!q.hasCode || !q.hasParams || (wanted == SIM_MTP_TO_DEVICE && !q.hasTotal)) return E_INVALIDARG;
    if (SimMtpName(q.code) && SimMtpDataOf(q.code) != wanted) return E_INVALIDARG;
    SimMtpAnswer answer;
    if (!forced) answer = SimMtpRun(device, readOnly, q.code, q.params);
    if (FAILED(answer.driver)) return answer.driver;
    if (forced) answer.data.clear();
    if (wanted == SIM_MTP_NO_DATA) {
        WORD response = forced;
        if (FAILED(after) && !SimMtpResponseOf(after, &response)) *call = after;   // acted, then the answer was lost
        PutResponse(out, answer, response);
        return S_OK;
    }
    DevsimLock lock;
    Transfers &book = Book();
    wchar_t context[32];
    swprintf(context, 32, L"devsim-transfer-%ld", ++book.next);
    Transfer &t = book.open[context];
    t.device = device;
    t.code = q.code;
    t.params = q.params;
    t.objectId = !q.params.empty() && HandleFirst(q.code) ? IdOfHandle(q.params[0]) : std::wstring();
    t.toHost = wanted == SIM_MTP_TO_HOST;
    t.answer = answer;
    if (forced) t.answer.response = forced;
    t.total = q.total;
    t.after = after;   // with data, a failure after acting waits for the end, once the data went across
    SimDevice *d = SimFindDevice(device);
    out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, Text(context)));
    if (t.toHost)
        out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE, Number(VT_UI8, answer.data.size())));
    out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_OPTIMAL_TRANSFER_BUFFER_SIZE,
                                  Number(VT_UI4, d ? (t.toHost ? d->readSize : d->writeSize) : 0)));
    return S_OK;
}

HRESULT ReadData(const Request &q, SimValueList *out)
{
    DevsimLock lock;
    auto it = Book().open.find(q.context);
    if (!q.hasContext || it == Book().open.end() || !it->second.toHost) return E_INVALIDARG;
    if (!q.hasCount || !q.hasData || q.data.size() < q.count) return E_INVALIDARG;   // the buffer to fill is required
    Transfer &t = it->second;
    size_t n = t.answer.data.size() - t.position;
    if (n > q.count) n = q.count;
    // A link cut short (DevsimCutReadAt) delivers half of this read and nothing after it.
    if (SimCutThisRead()) {
        n /= 2;
        t.answer.data.resize(t.position + n);
    }
    SimValue bytes;
    bytes.type = VT_VECTOR | VT_UI1;
    bytes.bytes = t.answer.data.substr(t.position, n);
    t.position += n;
    SimRecordRead(q.count, (DWORD)n);
    out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_READ, Number(VT_UI4, n)));
    out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, bytes));
    return S_OK;
}

// Bytes towards the device; a SendPartialObject the device accepted writes them as they come.
HRESULT WriteData(const Request &q, HRESULT after, HRESULT *call, SimValueList *out)
{
    DevsimLock lock;
    auto it = Book().open.find(q.context);
    if (!q.hasContext || it == Book().open.end() || it->second.toHost) return E_INVALIDARG;
    Transfer &t = it->second;
    if (!q.hasCount || !q.hasData || q.data.size() < q.count || t.received + q.count > t.total) return E_INVALIDARG;
    ULONGLONG announced = t.params.size() > 3 ? t.params[3] : 0;
    if (t.code == SEND_PARTIAL_OBJECT && t.answer.response == 0x2001 && t.received < announced) {
        ULONGLONG offset = (t.params.size() > 1 ? t.params[1] : 0) | (ULONGLONG)(t.params.size() > 2 ? t.params[2] : 0) << 32;
        ULONGLONG taken = announced - t.received < q.count ? announced - t.received : q.count;
        SimMtpWrite(t.device, t.params[0], offset + t.received, q.data.substr(0, (size_t)taken));
    }
    t.received += q.count;
    // Every byte announced has reached the phone: the file is whole, whether or not the end
    // of the transfer ever comes (a run killed before it leaves the bytes written).
    if (t.code == SEND_PARTIAL_OBJECT && !t.params.empty() && t.received >= announced)
        SimMtpSent(t.device, t.params[0]);
    SimRecordWrite(q.count, q.count);
    *call = after;   // written, then perhaps the answer was lost
    out->push_back(std::make_pair(WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_WRITTEN, Number(VT_UI4, q.count)));
    return S_OK;
}

// The transfer ends: a receiving operation that lacks bytes answers Incomplete_Transfer, and the
// edited object is whole again.
HRESULT EndTransfer(Transfer &t, HRESULT after, HRESULT *call, SimValueList *out)
{
    if (t.toHost && t.position < t.answer.data.size()) {
        DevsimLock lock;
        Book().endedEarly++;
    }
    ULONGLONG announced = t.code == SEND_PARTIAL_OBJECT && t.params.size() > 3 ? t.params[3] : t.total;
    if (!t.toHost && t.answer.response == 0x2001 && t.received < announced) t.answer.response = INCOMPLETE_TRANSFER;
    if (t.code == SEND_PARTIAL_OBJECT && !t.params.empty()) SimMtpSent(t.device, t.params[0]);
    WORD response = 0;
    HRESULT failure = FAILED(after) ? after : t.after;
    if (FAILED(failure) && !SimMtpResponseOf(failure, &response)) *call = failure;   // acted, then the answer was lost
    PutResponse(out, t.answer, response);
    return S_OK;
}
}  // namespace

void SimMtpClearTransfers()
{
    DevsimLock lock;
    Book() = Transfers();
}

long DevsimUnfinishedTransfers()
{
    DevsimLock lock;
    return (long)Book().open.size() + Book().endedEarly;
}

HRESULT SimSendCommand(int device, bool readOnly, IPortableDeviceValues *params, IPortableDeviceValues **results)
{
    Request q = Parse(params);
    bool execute = q.mtp && (q.command == WITHOUT_DATA || q.command == WITH_DATA_TO_READ || q.command == WITH_DATA_TO_WRITE);
    bool phase = q.mtp && (q.command == READ_DATA || q.command == WRITE_DATA || q.command == END_TRANSFER);
    std::string detail, operation;
    std::wstring objectId;
    char text[48];
    Transfer ended;             // END_DATA_TRANSFER: the transfer it ends, taken from the open ones
    bool ends = false;
    if (execute) {
        snprintf(text, sizeof text, "0x%04lX", (unsigned long)q.code);
        detail = text;
        operation = SimMtpName(q.code) ? SimMtpName(q.code) : "MTP::" + detail;
        if (!q.params.empty() && HandleFirst(q.code)) objectId = IdOfHandle(q.params[0]);
    } else if (phase) {
        DevsimLock lock;
        auto it = Book().open.find(q.context);
        const char *what = q.command == READ_DATA ? "read" : q.command == WRITE_DATA ? "write" : "end";
        if (q.hasContext && it != Book().open.end()) {
            snprintf(text, sizeof text, "0x%04lX %s", (unsigned long)it->second.code, what);
            objectId = it->second.objectId;
            // Sent, the end closes the transfer whatever comes of it: the client did its part.
            if (q.command == END_TRANSFER) {
                ended = it->second;
                ends = true;
                Book().open.erase(it);
            }
        } else {
            snprintf(text, sizeof text, "%s", what);
        }
        detail = text;
    } else if (q.mtp && (q.command == GET_OPCODES || q.command == GET_EXTENSION)) {
        detail = q.command == GET_OPCODES ? "vendor-opcodes" : "vendor-extension";
    } else {
        snprintf(text, sizeof text, "command %lu", (unsigned long)q.command);
        detail = text;
    }
    HRESULT after = S_OK;
    HRESULT hr = SimCallWith(SimCallInfo{"IPortableDevice::SendCommand", objectId.empty() ? nullptr : objectId.c_str(),
                                         detail, execute, operation.empty() ? nullptr : operation.c_str()},
                             &after);
    WORD forced = 0;
    if (execute && SimMtpResponseOf(hr, &forced)) hr = S_OK;   // the operation answers that code, doing nothing
    if (FAILED(hr)) return hr;
    if (!results) return E_POINTER;
    *results = nullptr;
    if (device < 0) return E_UNEXPECTED;   // not opened
    if (!q.ours) return E_INVALIDARG;
    SimValueList out;
    HRESULT driver, call = S_OK;   // call: the call's own failure once it has acted
    if (execute) {
        driver = Execute(device, readOnly, q, forced, after, &call, &out);
    } else if (phase && q.command == WRITE_DATA) {
        driver = WriteData(q, after, &call, &out);
    } else if (phase && q.command == END_TRANSFER) {
        driver = ends ? EndTransfer(ended, after, &call, &out) : E_INVALIDARG;
    } else if (FAILED(after)) {
        return after;   // nothing to act on: it fails before acting
    } else if (phase) {
        driver = ReadData(q, &out);
    } else if (q.mtp && (q.command == GET_OPCODES || q.command == GET_EXTENSION)) {
        driver = DriverQuery(device, q, &out);
    } else {
        driver = E_NOTIMPL;
    }
    if (FAILED(call)) return call;
    if (FAILED(driver)) out.clear();
    out.push_back(std::make_pair(WPD_PROPERTY_COMMON_HRESULT, Number(VT_ERROR, (ULONGLONG)(LONGLONG)driver)));
    *results = SimNewValues(out);
    return S_OK;
}
