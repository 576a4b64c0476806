// Fidelity checks of the simulated device: the behaviours of real handhelds that the layer's
// tests rely on, exercised through COM exactly as the layer reaches them.
#include <gtest/gtest.h>
#include <stdio.h>
#include <algorithm>
#include "support/device_fixture.h"

namespace {

// Releases the interface it holds when the test step ends.
template <class T>
struct Held {
    T *p = nullptr;
    ~Held() { Reset(); }
    void Reset()
    {
        if (p) p->Release();
        p = nullptr;
    }
    T **operator&() { return &p; }
    T *operator->() const { return p; }
    operator T *() const { return p; }
};

class DevsimTest : public DeviceTest {
protected:
    // Opens the device as the layer does: FTM class, client information, optionally read-only.
    HRESULT Open(const wchar_t *pnpId, bool readOnly, IPortableDevice **device)
    {
        *device = nullptr;
        Held<IPortableDeviceValues> info;
        HRESULT hr = CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IPortableDeviceValues, (void **)&info);
        if (FAILED(hr)) return hr;
        info->SetStringValue(WPD_CLIENT_NAME, L"Corvane");
        info->SetUnsignedIntegerValue(WPD_CLIENT_MAJOR_VERSION, 1);
        if (readOnly) info->SetUnsignedIntegerValue(WPD_CLIENT_DESIRED_ACCESS, GENERIC_READ);
        hr = CoCreateInstance(CLSID_PortableDeviceFTM, nullptr, CLSCTX_INPROC_SERVER, IID_IPortableDevice,
                              (void **)device);
        if (FAILED(hr)) return hr;
        hr = (*device)->Open(pnpId, info);
        if (FAILED(hr)) {
            (*device)->Release();
            *device = nullptr;
        }
        return hr;
    }

    // The demo handheld opened read-write, and its content.
    HRESULT OpenDemo(IPortableDevice **device, IPortableDeviceContent **content)
    {
        *content = nullptr;
        HRESULT hr = Open(L"\\\\?\\usb#demo", false, device);
        return SUCCEEDED(hr) ? (*device)->Content(content) : hr;
    }

    // Starts the upload of a document of announced bytes; the caller owns the stream.
    HRESULT Create(IPortableDeviceContent *content, const std::wstring &parentId, const wchar_t *name,
                   ULONGLONG announced, IStream **stream)
    {
        *stream = nullptr;
        Held<IPortableDeviceValues> values;
        HRESULT hr = CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IPortableDeviceValues, (void **)&values);
        if (FAILED(hr)) return hr;
        values->SetStringValue(WPD_OBJECT_PARENT_ID, parentId.c_str());
        values->SetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, announced);
        values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, name);
        values->SetGuidValue(WPD_OBJECT_CONTENT_TYPE, WPD_CONTENT_TYPE_DOCUMENT);
        DWORD optimal = 0;
        return content->CreateObjectWithPropertiesAndData(values, stream, &optimal, nullptr);
    }

    // Creates a file through a data stream; newId receives the id after a successful commit.
    HRESULT Upload(IPortableDeviceContent *content, const std::wstring &parentId, const wchar_t *name,
                   const std::string &data, ULONGLONG announced, std::wstring *newId = nullptr)
    {
        Held<IStream> stream;
        HRESULT hr = Create(content, parentId, name, announced, &stream);
        if (FAILED(hr)) return hr;
        ULONG written = 0;
        if (!data.empty()) {
            hr = stream->Write(data.data(), (ULONG)data.size(), &written);
            if (FAILED(hr)) return hr;
        }
        hr = stream->Commit(STGC_DEFAULT);
        if (FAILED(hr) || !newId) return hr;
        Held<IPortableDeviceDataStream> dataStream;
        HRESULT qi = stream->QueryInterface(IID_IPortableDeviceDataStream, (void **)&dataStream);
        if (FAILED(qi)) return qi;
        LPWSTR id = nullptr;
        qi = dataStream->GetObjectID(&id);
        if (FAILED(qi)) return qi;
        *newId = id;
        CoTaskMemFree(id);
        return hr;
    }

    HRESULT DeleteIds(IPortableDeviceContent *content, const std::vector<std::wstring> &idList, DWORD options)
    {
        Held<IPortableDevicePropVariantCollection> ids;
        HRESULT hr = CoCreateInstance(CLSID_PortableDevicePropVariantCollection, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IPortableDevicePropVariantCollection, (void **)&ids);
        if (FAILED(hr)) return hr;
        for (const std::wstring &id : idList) {
            PROPVARIANT v;
            PropVariantInit(&v);
            v.vt = VT_LPWSTR;
            v.pwszVal = (LPWSTR)CoTaskMemAlloc((id.size() + 1) * sizeof(WCHAR));
            memcpy(v.pwszVal, id.c_str(), (id.size() + 1) * sizeof(WCHAR));
            hr = ids->Add(&v);
            PropVariantClear(&v);   // the collection keeps its own copy
            if (FAILED(hr)) return hr;
        }
        return content->Delete(options, ids, nullptr);
    }
    HRESULT DeleteOne(IPortableDeviceContent *content, const std::wstring &id, DWORD options)
    {
        return DeleteIds(content, {id}, options);
    }

    // Renames through WPD_OBJECT_ORIGINAL_FILE_NAME; nameResult receives the name's own result.
    HRESULT Rename(IPortableDeviceContent *content, const std::wstring &id, const wchar_t *name, HRESULT *nameResult)
    {
        *nameResult = E_UNEXPECTED;
        Held<IPortableDeviceProperties> properties;
        HRESULT hr = content->Properties(&properties);
        if (FAILED(hr)) return hr;
        Held<IPortableDeviceValues> values, results;
        hr = CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER, IID_IPortableDeviceValues,
                              (void **)&values);
        if (FAILED(hr)) return hr;
        values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, name);
        hr = properties->SetValues(id.c_str(), values, &results);
        if (results.p) results->GetErrorValue(WPD_OBJECT_ORIGINAL_FILE_NAME, nameResult);
        return hr;
    }

    // What GetValues reports of an object: its file name, parent id, content type and size.
    struct Described {
        std::wstring name, parent;
        GUID type{};
        ULONGLONG size = 0;
    };
    HRESULT Describe(IPortableDeviceContent *content, const std::wstring &id, Described *out)
    {
        Held<IPortableDeviceProperties> properties;
        HRESULT hr = content->Properties(&properties);
        if (FAILED(hr)) return hr;
        Held<IPortableDeviceValues> values;
        hr = properties->GetValues(id.c_str(), nullptr, &values);
        if (FAILED(hr)) return hr;
        LPWSTR text = nullptr;
        if (SUCCEEDED(hr = values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &text))) out->name = text;
        CoTaskMemFree(text);
        text = nullptr;
        if (SUCCEEDED(hr) && SUCCEEDED(hr = values->GetStringValue(WPD_OBJECT_PARENT_ID, &text))) out->parent = text;
        CoTaskMemFree(text);
        if (SUCCEEDED(hr)) hr = values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &out->type);
        if (SUCCEEDED(hr)) hr = values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &out->size);
        return hr;
    }

    HRESULT OpenRead(IPortableDeviceContent *content, const std::wstring &id, IStream **stream)
    {
        *stream = nullptr;
        Held<IPortableDeviceResources> resources;
        HRESULT hr = content->Transfer(&resources);
        if (FAILED(hr)) return hr;
        DWORD optimal = 0;
        return resources->GetStream(id.c_str(), WPD_RESOURCE_DEFAULT, STGM_READ, &optimal, stream);
    }

    // One command of the MTP pass-through as a client sends it: fill sets its own values. The
    // call's answer is returned; *driver gets WPD_PROPERTY_COMMON_HRESULT.
    template <class Fill>
    HRESULT Command(IPortableDevice *dev, const PROPERTYKEY &command, Fill fill, IPortableDeviceValues **results,
                    HRESULT *driver)
    {
        *results = nullptr;
        *driver = E_UNEXPECTED;
        Held<IPortableDeviceValues> params;
        HRESULT hr = CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IPortableDeviceValues, (void **)&params);
        if (FAILED(hr)) return hr;
        params->SetGuidValue(WPD_PROPERTY_COMMON_COMMAND_CATEGORY, command.fmtid);
        params->SetUnsignedIntegerValue(WPD_PROPERTY_COMMON_COMMAND_ID, command.pid);
        fill(params.p);
        hr = dev->SendCommand(0, params, results);
        if (SUCCEEDED(hr) && *results) (*results)->GetErrorValue(WPD_PROPERTY_COMMON_HRESULT, driver);
        return hr;
    }

    // What one MTP operation answered through the pass-through.
    struct Mtp {
        HRESULT call = S_OK, driver = S_OK;   // the first failure of SendCommand, and of the driver
        DWORD response = 0;
        std::string data;                     // what came to the host
        ULONGLONG total = 0;                  // TRANSFER_TOTAL_DATA_SIZE, to the host
        DWORD optimal = 0;
    };
    enum Phase { NO_DATA, TO_HOST, TO_DEVICE };
    // Runs one operation whole: the execute, the data in chunks of chunk bytes (send: the bytes to
    // the device, announced whole), the end. ended false: leaves the transfer open.
    Mtp Operation(IPortableDevice *dev, DWORD code, std::vector<DWORD> args, Phase phase, const std::string &send = "",
                  DWORD chunk = 512, bool ended = true)
    {
        Mtp r;
        Held<IPortableDeviceValues> results;
        Held<IPortableDevicePropVariantCollection> list;
        r.call = CoCreateInstance(CLSID_PortableDevicePropVariantCollection, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDevicePropVariantCollection, (void **)&list);
        if (FAILED(r.call)) return r;   // a pulled cable fails the class creation too
        for (DWORD a : args) {
            PROPVARIANT v;
            PropVariantInit(&v);
            v.vt = VT_UI4;
            v.ulVal = a;
            list->Add(&v);
        }
        const PROPERTYKEY &execute = phase == NO_DATA   ? WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITHOUT_DATA_PHASE
                                     : phase == TO_HOST ? WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_READ
                                                        : WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_WRITE;
        r.call = Command(dev, execute, [&](IPortableDeviceValues *p) {
            p->SetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_OPERATION_CODE, code);
            p->SetIPortableDevicePropVariantCollectionValue(WPD_PROPERTY_MTP_EXT_OPERATION_PARAMS, list);
            if (phase == TO_DEVICE) p->SetUnsignedLargeIntegerValue(WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE, send.size());
        }, &results, &r.driver);
        if (FAILED(r.call) || FAILED(r.driver)) return r;
        ULONG number = 0;
        if (phase == NO_DATA) {
            results->GetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_RESPONSE_CODE, &r.response);
            return r;
        }
        LPWSTR text = nullptr;
        results->GetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, &text);
        std::wstring context = text ? text : L"";
        CoTaskMemFree(text);
        results->GetUnsignedLargeIntegerValue(WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE, &r.total);
        results->GetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_OPTIMAL_TRANSFER_BUFFER_SIZE, &r.optimal);
        for (size_t sent = 0; SUCCEEDED(r.call) && SUCCEEDED(r.driver);) {
            std::string buffer = phase == TO_HOST ? std::string(chunk, '\0') : send.substr(sent, chunk);
            if (phase == TO_DEVICE && buffer.empty()) break;
            HRESULT driver = S_OK;
            results.Reset();
            r.call = Command(dev, phase == TO_HOST ? WPD_COMMAND_MTP_EXT_READ_DATA : WPD_COMMAND_MTP_EXT_WRITE_DATA,
                             [&](IPortableDeviceValues *p) {
                                 p->SetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, context.c_str());
                                 p->SetUnsignedIntegerValue(phase == TO_HOST ? WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_READ
                                                                             : WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_WRITE,
                                                            (ULONG)buffer.size());
                                 p->SetBufferValue(WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, (BYTE *)&buffer[0], (DWORD)buffer.size());
                             }, &results, &driver);
            r.driver = driver;
            if (FAILED(r.call) || FAILED(driver)) break;
            sent += buffer.size();
            if (phase == TO_DEVICE) continue;
            BYTE *bytes = nullptr;
            DWORD size = 0;
            results->GetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_READ, &number);
            if (SUCCEEDED(results->GetBufferValue(WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, &bytes, &size)))
                r.data.append((const char *)bytes, size);
            CoTaskMemFree(bytes);
            if (number < chunk) break;
        }
        if (!ended) return r;
        results.Reset();
        HRESULT driver = S_OK, call = Command(dev, WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER, [&](IPortableDeviceValues *p) {
            p->SetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, context.c_str());
        }, &results, &driver);
        if (SUCCEEDED(r.call)) r.call = call;
        if (SUCCEEDED(r.driver)) r.driver = driver;
        if (SUCCEEDED(call) && SUCCEEDED(driver))
            results->GetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_RESPONSE_CODE, &r.response);
        return r;
    }
};

// The lines of a text file, without their line ends; "count" lines (call counters) left out.
std::vector<std::string> StateLines(const char *path)
{
    std::vector<std::string> lines;
    FILE *f = fopen(path, "rb");
    if (!f) return lines;
    std::string line;
    int c;
    while ((c = fgetc(f)) != EOF) {
        if (c != '\n') {
            if (c != '\r') line += (char)c;
            continue;
        }
        if (line.compare(0, 6, "count ") != 0) lines.push_back(line);
        line.clear();
    }
    fclose(f);
    return lines;
}

bool HasLine(const std::vector<std::string> &lines, const std::string &line)
{
    for (const std::string &l : lines)
        if (l == line) return true;
    return false;
}

// Text for messages and the call log: ASCII as it is, anything else as '?'.
std::string Narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text) out += c < 128 ? (char)c : '?';
    return out;
}

// A GUID as the platform's documentation writes it, for readable comparisons.
std::string GuidText(const GUID &g)
{
    char text[40];
    snprintf(text, sizeof(text), "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", (unsigned long)g.Data1,
             g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
             g.Data4[7]);
    return text;
}

TEST_F(DevsimTest, ManagerCountsFirstThenFillsAndSaysSFalseWhenTheArrayIsShort)
{
    DevsimAddDevice(L"first");
    DevsimAddDevice(L"second");
    Held<IPortableDeviceManager> manager;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PortableDeviceManager, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IPortableDeviceManager, (void **)&manager))
        << "the manager class must be creatable once devsim is registered in-process";
    DWORD count = 0;
    ASSERT_EQ(S_OK, manager->GetDevices(nullptr, &count)) << "a count-only request must succeed";
    EXPECT_EQ(2u, count) << "the count-only request must report both devices";

    LPWSTR ids[1] = {nullptr};
    count = 1;
    EXPECT_EQ(S_FALSE, manager->GetDevices(ids, &count)) << "an array of one for two devices must give S_FALSE";
    ASSERT_EQ(1u, count) << "the one slot must be filled";
    EXPECT_STREQ(L"first", ids[0]) << "devices come in the order they were added";
    CoTaskMemFree(ids[0]);
}

TEST_F(DevsimTest, NextDeliversChildrenInOrderAndEndsWithSFalseAndNothingFetched)
{
    int device = AddDemoHandheld();
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
    int storage = DevsimFind(device, L"Internal storage");
    std::wstring storageId = DevsimObjectId(device, storage);

    Held<IEnumPortableDeviceObjectIDs> children;
    ASSERT_EQ(S_OK, content->EnumObjects(0, storageId.c_str(), nullptr, &children));
    std::vector<std::wstring> seen;
    HRESULT hr;
    for (int guard = 0; guard < 10; guard++) {
        LPWSTR id = nullptr;
        ULONG fetched = 99;
        hr = children->Next(1, &id, &fetched);
        if (hr == S_FALSE) {
            EXPECT_EQ(0u, fetched) << "the end of the children must report a fetched count of 0";
            break;
        }
        ASSERT_EQ(S_OK, hr) << "Next failed with " << Hex(hr);
        ASSERT_EQ(1u, fetched);
        seen.push_back(id);
        CoTaskMemFree(id);
    }
    EXPECT_EQ(S_FALSE, hr) << "the enumeration must end with S_FALSE";
    std::vector<int> expected = DevsimChildren(device, storage);
    ASSERT_EQ(expected.size(), seen.size()) << "every direct child of the storage, and no grandchild, comes out";
    for (size_t i = 0; i < seen.size(); i++)
        EXPECT_EQ(DevsimObjectId(device, expected[i]), seen[i]) << "child " << i << " is out of device order";

    // Asking for more than remain gives what there is, with S_FALSE.
    Held<IEnumPortableDeviceObjectIDs> again;
    ASSERT_EQ(S_OK, content->EnumObjects(0, storageId.c_str(), nullptr, &again));
    LPWSTR ids[8] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, again->Next(8, ids, &fetched)) << "fewer than asked for must give S_FALSE";
    EXPECT_EQ(3u, fetched) << "the demo storage holds three folders";
    for (ULONG i = 0; i < fetched; i++) CoTaskMemFree(ids[i]);
}

TEST_F(DevsimTest, UploadedObjectExistsOnlyAfterCommitAndReadsBackTheSameBytes)
{
    int device = AddDemoHandheld();
    int app = DevsimFind(device, L"Internal storage\\Corvane");
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";

    Held<IPortableDeviceValues> values;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IPortableDeviceValues, (void **)&values));
    values->SetStringValue(WPD_OBJECT_PARENT_ID, DevsimObjectId(device, app).c_str());
    values->SetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, 5);
    values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, L"new.txt");
    Held<IStream> stream;
    ASSERT_EQ(S_OK, content->CreateObjectWithPropertiesAndData(values, &stream, nullptr, nullptr));
    ULONG written = 0;
    ASSERT_EQ(S_OK, stream->Write("hello", 5, &written));
    EXPECT_EQ(-1, DevsimFind(device, L"Internal storage\\Corvane\\new.txt"))
        << "an object must not exist before its stream is committed";
    Held<IPortableDeviceDataStream> dataStream;
    ASSERT_EQ(S_OK, stream->QueryInterface(IID_IPortableDeviceDataStream, (void **)&dataStream))
        << "an upload stream must offer IPortableDeviceDataStream";
    LPWSTR id = nullptr;
    EXPECT_TRUE(FAILED(dataStream->GetObjectID(&id))) << "the new object has no id before Commit";
    ASSERT_EQ(S_OK, stream->Commit(STGC_DEFAULT));
    int made = DevsimFind(device, L"Internal storage\\Corvane\\new.txt");
    ASSERT_NE(-1, made) << "after Commit the object must exist in the parent folder";
    EXPECT_EQ("hello", DevsimData(device, made));
    ASSERT_EQ(S_OK, dataStream->GetObjectID(&id));
    EXPECT_EQ(DevsimObjectId(device, made), std::wstring(id)) << "GetObjectID must name the committed object";
    CoTaskMemFree(id);
    EXPECT_EQ(1, DevsimCommits());
    std::vector<DevsimProperty> props = DevsimLastCreateProperties();
    ASSERT_EQ(3u, props.size()) << "the creation properties are recorded in the order they were set";
    EXPECT_TRUE(IsEqualPropertyKey(WPD_OBJECT_SIZE, props[1].key));
    EXPECT_EQ(5u, props[1].number);

    Held<IPortableDeviceResources> resources;
    ASSERT_EQ(S_OK, content->Transfer(&resources));
    Held<IStream> reader;
    DWORD optimal = 0;
    ASSERT_EQ(S_OK, resources->GetStream(DevsimObjectId(device, made).c_str(), WPD_RESOURCE_DEFAULT,
                                         STGM_READ, &optimal, &reader));
    EXPECT_EQ(262144u, optimal) << "the default optimal read size";
    char buffer[16];
    ULONG got = 0;
    ASSERT_EQ(S_OK, reader->Read(buffer, 3, &got));
    ASSERT_EQ(S_OK, reader->Read(buffer + 3, 16, &got));
    EXPECT_EQ(2u, got) << "the second read returns the rest";
    ASSERT_EQ(S_OK, reader->Read(buffer, 16, &got));
    EXPECT_EQ(0u, got) << "a read at the end returns 0 bytes";
    EXPECT_EQ((std::vector<DWORD>{3, 16, 16}), DevsimReadSizes()) << "read sizes are recorded as requested";
}

TEST_F(DevsimTest, CommitRefusesDuplicatesAndSizeMismatches)
{
    struct Case {
        const char *why;
        const wchar_t *name;
        std::string data;
        ULONGLONG announced;
        bool shortWrites;
        HRESULT expected;
    } cases[] = {
        {"a new name with the announced size", L"other.ini", "abc", 3, false, S_OK},
        {"a name already in the folder (Android refuses duplicates)", L"Corvane_Info.ini", "abc", 3, false,
         HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {"fewer bytes than announced", L"short.ini", "ab", 3, false, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
        {"a device that keeps one byte less", L"lossy.ini", "abc", 3, true, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
        {"an empty file", L"empty.ini", "", 0, false, S_OK},
    };
    for (const Case &c : cases) {
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetShortWrites(device, c.shortWrites);
        int app = DevsimFind(device, L"Internal storage\\Corvane");
        size_t before = DevsimChildren(device, app).size();
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
        HRESULT hr = Upload(content, DevsimObjectId(device, app), c.name, c.data, c.announced);
        EXPECT_EQ(Hex(c.expected), Hex(hr)) << "Commit of " << c.why;
        EXPECT_EQ(before + (c.expected == S_OK ? 1 : 0), DevsimChildren(device, app).size())
            << "only a successful commit adds an object: " << c.why;
    }
}

TEST_F(DevsimTest, ReadOnlyOpenAfterDenialRefusesCreateAndDelete)
{
    int device = AddDemoHandheld();
    DevsimSetDeny(device, DEVSIM_DENY_READWRITE);
    int file = DevsimFind(device, L"Internal storage\\Corvane\\Corvane_Info.ini");
    Held<IPortableDevice> dev;
    EXPECT_EQ(Hex(E_ACCESSDENIED), Hex(Open(L"\\\\?\\usb#demo", false, &dev)))
        << "a device denying read-write access must refuse the default open";
    ASSERT_EQ(S_OK, Open(L"\\\\?\\usb#demo", true, &dev)) << "read-only access must still be granted";
    std::vector<DevsimOpenRecord> opens = DevsimOpens(device);
    ASSERT_EQ(2u, opens.size()) << "both attempts are recorded";
    EXPECT_FALSE(opens[0].hasDesiredAccess);
    EXPECT_TRUE(opens[1].hasDesiredAccess);
    EXPECT_EQ((DWORD)GENERIC_READ, opens[1].desiredAccess);
    EXPECT_EQ(L"Corvane", opens[1].clientName);

    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, dev->Content(&content));
    std::wstring app = DevsimObjectId(device, DevsimFind(device, L"Internal storage\\Corvane"));
    EXPECT_EQ(Hex(E_ACCESSDENIED), Hex(Upload(content, app, L"x.ini", "x", 1)))
        << "a read-only session must refuse to create objects";
    EXPECT_EQ(Hex(E_ACCESSDENIED), Hex(DeleteOne(content, DevsimObjectId(device, file), 0)))
        << "a read-only session must refuse to delete";
    EXPECT_TRUE(DevsimExists(device, file));
}

TEST_F(DevsimTest, DeleteAnswersLikeTheDevice)
{
    struct Case {
        const char *why;
        const wchar_t *path;   // null: an id that never existed
        DWORD options;
        bool refuse;
        HRESULT expected;
        bool gone;
    } cases[] = {
        {"a plain file", L"Internal storage\\Corvane\\Corvane_Info.ini", PORTABLE_DEVICE_DELETE_NO_RECURSION, false,
         S_OK, true},
        {"a missing object", nullptr, PORTABLE_DEVICE_DELETE_NO_RECURSION, false,
         HRESULT_FROM_WIN32(ERROR_NOT_FOUND), false},
        {"a folder with children, without recursion", L"Internal storage\\Corvane",
         PORTABLE_DEVICE_DELETE_NO_RECURSION, false, HRESULT_FROM_WIN32(ERROR_INVALID_OPERATION), false},
        {"a folder with children, with recursion", L"Internal storage\\Corvane", PORTABLE_DEVICE_DELETE_WITH_RECURSION,
         false, S_OK, true},
        {"a file the device refuses to delete", L"Internal storage\\Corvane\\Corvane_Info.ini",
         PORTABLE_DEVICE_DELETE_NO_RECURSION, true, S_FALSE, false},
    };
    for (const Case &c : cases) {
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetDeleteRefused(device, c.refuse);
        int object = c.path ? DevsimFind(device, c.path) : -1;
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
        HRESULT hr = DeleteOne(content, c.path ? DevsimObjectId(device, object) : L"o999", c.options);
        EXPECT_EQ(Hex(c.expected), Hex(hr)) << "Delete of " << c.why;
        if (c.path) EXPECT_EQ(!c.gone, DevsimExists(device, object)) << "existence after Delete of " << c.why;
    }
}

TEST_F(DevsimTest, ScriptedFailuresFireOnceAtTheRightCall)
{
    int device = AddDemoHandheld();
    std::wstring storage = DevsimObjectId(device, DevsimFind(device, L"Internal storage"));
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";

    // The second Next below the storage fails; Next below DEVICE is not affected.
    DevsimFailCall("IEnumPortableDeviceObjectIDs::Next", 2, E_FAIL, storage.c_str());
    Held<IEnumPortableDeviceObjectIDs> top, below;
    ASSERT_EQ(S_OK, content->EnumObjects(0, WPD_DEVICE_OBJECT_ID, nullptr, &top));
    ASSERT_EQ(S_OK, content->EnumObjects(0, storage.c_str(), nullptr, &below));
    std::vector<HRESULT> results;
    for (int i = 0; i < 3; i++) {
        LPWSTR id = nullptr;
        ULONG fetched = 0;
        HRESULT other = top->Next(1, &id, &fetched);
        if (id) CoTaskMemFree(id);
        EXPECT_TRUE(SUCCEEDED(other)) << "a rule for one object id must not hit another";
        id = nullptr;
        results.push_back(below->Next(1, &id, &fetched));
        if (SUCCEEDED(results.back()) && fetched) CoTaskMemFree(id);
    }
    EXPECT_EQ((std::vector<HRESULT>{S_OK, E_FAIL, S_OK}), results) << "the rule fires at the 2nd call only";
    EXPECT_EQ(3, DevsimCallCountFor("IEnumPortableDeviceObjectIDs::Next", storage.c_str()));

    // The sweep rule counts every call, whatever the method: the 2nd call from now fails.
    DevsimFailNthCall(2, E_OUTOFMEMORY);
    Held<IPortableDeviceProperties> properties;
    EXPECT_EQ(S_OK, content->Properties(&properties)) << "1st call after arming the sweep";
    Held<IPortableDeviceValues> values;
    EXPECT_EQ(Hex(E_OUTOFMEMORY), Hex(properties->GetValues(storage.c_str(), nullptr, &values)))
        << "2nd call after arming the sweep";
    EXPECT_EQ(S_OK, properties->GetValues(storage.c_str(), nullptr, &values)) << "3rd call";
    LPWSTR name = nullptr;
    ASSERT_EQ(S_OK, values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &name));
    EXPECT_STREQ(L"Internal storage", name);
    CoTaskMemFree(name);

    DevsimFailCall("CoCreateInstance:KeyCollection", 1, E_OUTOFMEMORY);
    Held<IPortableDeviceKeyCollection> keys;
    EXPECT_EQ(Hex(E_OUTOFMEMORY), Hex(CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr,
                                                       CLSCTX_INPROC_SERVER, IID_IPortableDeviceKeyCollection,
                                                       (void **)&keys)))
        << "class creation is a counted call that rules can fail";

    // A call that acts, then answers a failure: the file is gone although Delete failed.
    int file = DevsimFind(device, L"Internal storage\\Corvane\\Corvane_Info.ini");
    DevsimFailCall("IPortableDeviceContent::Delete", 1, HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT), nullptr, DEVSIM_AFTER_ACTING);
    EXPECT_EQ(Hex(HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT)),
              Hex(DeleteOne(content, DevsimObjectId(device, file), PORTABLE_DEVICE_DELETE_NO_RECURSION)));
    EXPECT_FALSE(DevsimExists(device, file)) << "the delete should have happened before the failure was answered";

    // The cable pulled after two calls: every later call fails and changes nothing, until the
    // rules are cleared; the device itself stays as it was.
    int download = DevsimFind(device, L"Internal storage\\Download");
    DevsimPullCableAfter(2);
    Held<IPortableDeviceProperties> more;
    EXPECT_EQ(S_OK, content->Properties(&more)) << "1st call after arming the pull";
    Held<IPortableDeviceValues> read;
    EXPECT_EQ(S_OK, more->GetValues(storage.c_str(), nullptr, &read)) << "2nd call after arming the pull";
    HRESULT pulled = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(Hex(pulled), Hex(DeleteOne(content, DevsimObjectId(device, download), PORTABLE_DEVICE_DELETE_NO_RECURSION)));
    EXPECT_TRUE(DevsimExists(device, download)) << "a call after the pull deleted something";
    Held<IPortableDeviceKeyCollection> late;
    EXPECT_EQ(Hex(pulled), Hex(CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IPortableDeviceKeyCollection, (void **)&late)));
    DevsimClearRules();
    EXPECT_EQ(S_OK, DeleteOne(content, DevsimObjectId(device, download), PORTABLE_DEVICE_DELETE_NO_RECURSION))
        << "the device serves calls again once the rules are cleared";
}

// Renaming through WPD_OBJECT_ORIGINAL_FILE_NAME as different real devices answer it: what
// the call and the name's own result say, whether the name changed, and what the old id
// names afterwards.
TEST_F(DevsimTest, RenamesAnswerAsEachKindOfDeviceDoes)
{
    enum OldId { SameObject, Nothing };
    struct Case {
        const char *why;
        void (*make)(int device);
        HRESULT call, nameResult;
        bool renamed;
        OldId oldId;
    } cases[] = {
        {"a device that keeps ids", [](int) {}, S_OK, S_OK, true, SameObject},
        {"a device that reissues ids", [](int d) { DevsimSetIdScheme(d, DEVSIM_IDS_REISSUED_ON_RENAME); }, S_OK, S_OK,
         true, Nothing},
        {"a device whose ids follow names", [](int d) { DevsimSetIdScheme(d, DEVSIM_IDS_FROM_NAMES); }, S_OK, S_OK,
         true, Nothing},
        {"a device that lies", [](int d) { DevsimSetRenameLies(d, true); }, S_OK, S_OK, false, SameObject},
        {"a device that cannot rename", [](int d) { DevsimSetRenameRefused(d, true); }, S_FALSE,
         HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), false, SameObject},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int device = AddDemoHandheld();
        c.make(device);
        int file = DevsimFind(device, L"Internal storage\\Corvane\\Corvane_Info.ini");
        std::wstring oldId = DevsimObjectId(device, file);
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
        Held<IPortableDeviceProperties> properties;
        ASSERT_EQ(S_OK, content->Properties(&properties));
        Held<IPortableDeviceValues> values, results;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IPortableDeviceValues, (void **)&values));
        ASSERT_EQ(S_OK, values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, L"Renamed.ini"));
        EXPECT_EQ(Hex(c.call), Hex(properties->SetValues(oldId.c_str(), values, &results)));
        HRESULT nameResult = E_UNEXPECTED;
        ASSERT_TRUE(results.p != nullptr) << "SetValues gave no results";
        EXPECT_EQ(S_OK, results->GetErrorValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &nameResult));
        EXPECT_EQ(Hex(c.nameResult), Hex(nameResult)) << "the name's own result";
        EXPECT_EQ(c.renamed ? L"Renamed.ini" : L"Corvane_Info.ini", DevsimName(device, file));
        EXPECT_EQ(c.oldId == SameObject ? file : -1, DevsimObjectById(device, oldId.c_str()))
            << "what the id the object had before names now";
    }
    // Where ids follow names, an old id names whatever takes the name next.
    DevsimReset();
    int device = AddDemoHandheld();
    DevsimSetIdScheme(device, DEVSIM_IDS_FROM_NAMES);
    int app = DevsimFind(device, L"Internal storage\\Corvane");
    int file = DevsimFind(device, L"Internal storage\\Corvane\\Corvane_Info.ini");
    std::wstring oldId = DevsimObjectId(device, file);
    DevsimRemove(device, file);
    int successor = DevsimAddFile(device, app, L"Corvane_Info.ini", "new");
    EXPECT_EQ(successor, DevsimObjectById(device, oldId.c_str())) << "the old id should now name the new file";
}

// An upload on a device that leaves phantoms lists its object from the create on, empty; how
// the upload ends decides whether the entry is filled, dropped or left behind. A device
// without phantoms shows the object only once it is committed.
TEST_F(DevsimTest, PhantomsAreListedFromTheCreateUntilTheUploadEnds)
{
    enum End { COMMIT, COMMIT_SHORT, REVERT, CANCEL, RELEASE, PULLED_REVERT, FAILED_CANCEL, RECONNECT };
    enum After { GONE, PHANTOM, FILLED };
    const HRESULT pulled = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    struct Case {
        const char *why;
        bool phantoms;
        End end;
        HRESULT endResult;   // of the call that ends the upload (none for RELEASE and RECONNECT)
        bool listedAtOnce;
        After after;
    } cases[] = {
        {"Commit fills the phantom", true, COMMIT, S_OK, true, FILLED},
        {"Commit of fewer bytes than announced drops it", true, COMMIT_SHORT, HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
         true, GONE},
        {"Revert drops it", true, REVERT, S_OK, true, GONE},
        {"Cancel drops it", true, CANCEL, S_OK, true, GONE},
        {"a stream released without Revert leaves it", true, RELEASE, S_OK, true, PHANTOM},
        {"a Revert once the cable is pulled leaves it", true, PULLED_REVERT, pulled, true, PHANTOM},
        {"a Cancel that fails leaves it", true, FAILED_CANCEL, E_FAIL, true, PHANTOM},
        {"a reconnect clears it", true, RECONNECT, S_OK, true, GONE},
        {"without phantoms Commit creates the object", false, COMMIT, S_OK, false, FILLED},
        {"without phantoms a released stream leaves nothing", false, RELEASE, S_OK, false, GONE},
        {"without phantoms a short Commit leaves nothing", false, COMMIT_SHORT, HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
         false, GONE},
    };
    const wchar_t *path = L"Internal storage\\Corvane\\new.ini";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetPhantoms(device, c.phantoms);
        int app = DevsimFind(device, L"Internal storage\\Corvane");
        int info = DevsimFind(device, L"Internal storage\\Corvane\\Corvane_Info.ini");
        std::wstring appId = DevsimObjectId(device, app);
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
        Held<IStream> stream;
        ASSERT_EQ(S_OK, Create(content, appId, L"new.ini", 5, &stream)) << "the create itself must succeed";
        ULONG written = 0;
        ASSERT_EQ(S_OK, stream->Write("hello", c.end == COMMIT_SHORT ? 3 : 5, &written));

        int listed = DevsimFind(device, path);
        EXPECT_EQ(c.listedAtOnce, listed != -1) << "whether the folder lists the object before Commit is wrong";
        std::wstring listedId = listed != -1 ? DevsimObjectId(device, listed) : L"";
        if (listed != -1) {
            EXPECT_TRUE(DevsimIsPhantom(device, listed)) << "an object listed before Commit must be a phantom";
            Described seen;
            EXPECT_EQ(S_OK, Describe(content, listedId, &seen)) << "GetValues of a phantom must answer every key";
            EXPECT_EQ(L"new.ini", seen.name) << "a phantom must carry the announced name";
            EXPECT_EQ(appId, seen.parent) << "a phantom must sit in the folder it was created in";
            EXPECT_TRUE(IsEqualGUID(WPD_CONTENT_TYPE_DOCUMENT, seen.type)) << "a phantom must have the announced type";
            EXPECT_EQ(0u, seen.size) << "a phantom must report size 0 whatever was announced";
        }

        HRESULT ended = S_OK;
        Held<IPortableDeviceDataStream> dataStream;
        ASSERT_EQ(S_OK, stream->QueryInterface(IID_IPortableDeviceDataStream, (void **)&dataStream));
        switch (c.end) {
        case COMMIT:
        case COMMIT_SHORT: ended = stream->Commit(STGC_DEFAULT); break;
        case REVERT: ended = stream->Revert(); break;
        case CANCEL: ended = dataStream->Cancel(); break;
        case PULLED_REVERT:
            DevsimPullCableAfter(0);
            ended = stream->Revert();
            DevsimClearRules();
            break;
        case FAILED_CANCEL:
            DevsimFailCall("IPortableDeviceDataStream::Cancel", 1, E_FAIL);
            ended = dataStream->Cancel();
            break;
        case RECONNECT: DevsimReconnect(device); break;
        case RELEASE: break;
        }
        if (c.end != RECONNECT && c.end != RELEASE)
            EXPECT_EQ(Hex(c.endResult), Hex(ended)) << "the call that ends the upload answered wrongly";
        std::wstring committedId;
        if (c.end == COMMIT && SUCCEEDED(ended)) {
            LPWSTR id = nullptr;
            ASSERT_EQ(S_OK, dataStream->GetObjectID(&id));
            committedId = id;
            CoTaskMemFree(id);
        }
        dataStream.Reset();
        stream.Reset();

        int now = DevsimFind(device, path);
        switch (c.after) {
        case GONE: EXPECT_EQ(-1, now) << "the folder still lists the object"; break;
        case PHANTOM:
            ASSERT_NE(-1, now) << "the phantom vanished";
            EXPECT_TRUE(DevsimIsPhantom(device, now)) << "the object left behind must still be a phantom";
            EXPECT_EQ("", DevsimData(device, now)) << "a phantom must hold no data";
            break;
        case FILLED:
            ASSERT_NE(-1, now) << "the committed object is missing";
            EXPECT_FALSE(DevsimIsPhantom(device, now)) << "a committed object must no longer be a phantom";
            EXPECT_EQ("hello", DevsimData(device, now)) << "the committed object must hold the bytes written";
            EXPECT_EQ(DevsimObjectId(device, now), committedId) << "GetObjectID must name the committed object";
            if (c.listedAtOnce) {
                EXPECT_EQ(listedId, committedId) << "Commit must fill the phantom, keeping its id";
            }
            break;
        }
        EXPECT_TRUE(DevsimExists(device, info)) << "the upload touched another file of the folder";
        EXPECT_EQ(c.after == GONE ? 1u : 2u, DevsimChildren(device, app).size())
            << "the folder must hold the old file and, unless the upload left nothing, the one new entry";
    }
}

// What a phantom refuses, and the name it blocks for every other object.
TEST_F(DevsimTest, PhantomsRefuseReadsDeletesAndRenamesAndBlockTheirName)
{
    enum Act { GET_STREAM, DELETE_IT, DELETE_WITH_ANOTHER, RENAME_IT, RENAME_ONTO_IT, CREATE_ITS_NAME,
               COMMIT_ITS_NAME_WITHOUT_PHANTOMS };
    const HRESULT genFailure = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), exists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    struct Case {
        const char *why;
        Act act;
        HRESULT call, nameResult;   // nameResult: renames only
    } cases[] = {
        {"GetStream of the phantom", GET_STREAM, genFailure, S_OK},
        {"Delete of the phantom", DELETE_IT, genFailure, S_OK},
        {"Delete of another file and the phantom together", DELETE_WITH_ANOTHER, genFailure, S_OK},
        {"a rename of the phantom", RENAME_IT, S_FALSE, genFailure},
        {"a rename of another file onto the phantom's name", RENAME_ONTO_IT, S_FALSE, exists},
        {"a create of the phantom's name", CREATE_ITS_NAME, exists, S_OK},
        {"a commit of its name once the device makes no more phantoms", COMMIT_ITS_NAME_WITHOUT_PHANTOMS, exists, S_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetPhantoms(device, true);
        int app = DevsimFind(device, L"Internal storage\\Corvane");
        int info = DevsimFind(device, L"Internal storage\\Corvane\\Corvane_Info.ini");
        std::wstring appId = DevsimObjectId(device, app), infoId = DevsimObjectId(device, info);
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
        {
            Held<IStream> abandoned;   // released without Commit or Revert: a killed run
            ASSERT_EQ(S_OK, Create(content, appId, L"new.ini", 5, &abandoned));
        }
        int phantom = DevsimFind(device, L"Internal storage\\Corvane\\new.ini");
        ASSERT_TRUE(DevsimIsPhantom(device, phantom)) << "the abandoned upload left no phantom";
        std::wstring phantomId = DevsimObjectId(device, phantom);

        HRESULT hr = E_UNEXPECTED, nameResult = S_OK;
        switch (c.act) {
        case GET_STREAM: {
            Held<IStream> reader;
            hr = OpenRead(content, phantomId, &reader);
            break;
        }
        case DELETE_IT: hr = DeleteOne(content, phantomId, PORTABLE_DEVICE_DELETE_NO_RECURSION); break;
        case DELETE_WITH_ANOTHER:
            hr = DeleteIds(content, {infoId, phantomId}, PORTABLE_DEVICE_DELETE_NO_RECURSION);
            break;
        case RENAME_IT: hr = Rename(content, phantomId, L"other.ini", &nameResult); break;
        case RENAME_ONTO_IT: hr = Rename(content, infoId, L"new.ini", &nameResult); break;
        case CREATE_ITS_NAME: {
            Held<IStream> again;
            hr = Create(content, appId, L"new.ini", 5, &again);
            break;
        }
        case COMMIT_ITS_NAME_WITHOUT_PHANTOMS:
            DevsimSetPhantoms(device, false);
            hr = Upload(content, appId, L"new.ini", "hello", 5);
            break;
        }
        EXPECT_EQ(Hex(c.call), Hex(hr)) << "the call answered wrongly";
        if (c.act == RENAME_IT || c.act == RENAME_ONTO_IT) {
            EXPECT_EQ(Hex(c.nameResult), Hex(nameResult)) << "the name's own result is wrong";
        }
        EXPECT_TRUE(DevsimIsPhantom(device, phantom)) << "the phantom did not stay as it was";
        EXPECT_EQ(L"new.ini", DevsimName(device, phantom)) << "the phantom's name changed";
        EXPECT_TRUE(DevsimExists(device, info)) << "the other file was deleted";
        EXPECT_EQ(L"Corvane_Info.ini", DevsimName(device, info)) << "the other file was renamed";
        EXPECT_EQ(2u, DevsimChildren(device, app).size()) << "a second object of the phantom's name was made";
    }
    // The last case's device: a reconnect drops phantoms only, and frees their names.
    DevsimReconnect(0);
    EXPECT_EQ(-1, DevsimFind(0, L"Internal storage\\Corvane\\new.ini")) << "a reconnect left the phantom";
    EXPECT_NE(-1, DevsimFind(0, L"Internal storage\\Corvane\\Corvane_Info.ini")) << "a reconnect deleted a real file";
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
    EXPECT_EQ(S_OK, Upload(content, DevsimObjectId(0, DevsimFind(0, L"Internal storage\\Corvane")), L"new.ini",
                           "hello", 5))
        << "the name must be free again once the phantom is gone";
}

// How a download's reads end: S_FALSE on short reads where the device says so, and a link
// cut short that delivers half a read and then nothing, all with S_OK.
TEST_F(DevsimTest, ReadsEndAsTheDeviceAndTheLinkMakeThem)
{
    const std::string data = "0123456789";
    struct Case {
        const char *why;
        bool sFalse;
        long cutAt;
        bool failFirst;   // the first read fails by a rule
        std::vector<ULONG> asks;
        std::vector<HRESULT> results;
        std::vector<ULONG> got;
    } cases[] = {
        {"plain reads", false, 0, false, {4, 4, 4, 4}, {S_OK, S_OK, S_OK, S_OK}, {4, 4, 2, 0}},
        {"short reads end with S_FALSE", true, 0, false, {4, 4, 4, 4}, {S_OK, S_OK, S_FALSE, S_FALSE}, {4, 4, 2, 0}},
        {"a read taking exactly the rest is not short", true, 0, false, {4, 6, 4}, {S_OK, S_OK, S_FALSE}, {4, 6, 0}},
        {"the 2nd read cut", false, 2, false, {4, 4, 4, 4}, {S_OK, S_OK, S_OK, S_OK}, {4, 2, 0, 0}},
        {"a cut says S_OK where short reads say S_FALSE", true, 2, false, {4, 4, 4}, {S_OK, S_OK, S_OK}, {4, 2, 0}},
        {"a cut of an odd count rounds down", false, 1, false, {3, 3}, {S_OK, S_OK}, {1, 0}},
        {"a cut of the empty read at the end", true, 3, false, {6, 4, 4}, {S_OK, S_OK, S_OK}, {6, 4, 0}},
        {"a failed read is not counted towards the cut", false, 2, true, {4, 4, 4, 4}, {E_FAIL, S_OK, S_OK, S_OK},
         {0, 4, 2, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetReadsEndWithSFalse(device, c.sFalse);
        int file = DevsimAddFile(device, DevsimFind(device, L"Internal storage\\Download"), L"ten.bin", data);
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
        Held<IStream> reader;
        ASSERT_EQ(S_OK, OpenRead(content, DevsimObjectId(device, file), &reader));
        DevsimCutReadAt(c.cutAt);
        if (c.failFirst) DevsimFailCall("IStream::Read", 1, E_FAIL);
        std::vector<HRESULT> results;
        std::vector<ULONG> got;
        std::string received;
        for (ULONG ask : c.asks) {
            char buffer[16];
            ULONG n = 0;
            results.push_back(reader->Read(buffer, ask, &n));
            got.push_back(n);
            received.append(buffer, n);
        }
        EXPECT_EQ(c.results, results) << "the reads answered the wrong codes";
        EXPECT_EQ(c.got, got) << "the reads delivered the wrong byte counts";
        EXPECT_EQ(data.substr(0, received.size()), received) << "the bytes delivered are not the file's start";
        EXPECT_EQ(data, DevsimData(device, file)) << "a cut read must not change the object";
        Described seen;
        ASSERT_EQ(S_OK, Describe(content, DevsimObjectId(device, file), &seen));
        EXPECT_EQ(data.size(), seen.size) << "a cut read must leave WPD_OBJECT_SIZE as it was";
    }
    // The cut counts reads of every stream but ends only the stream it hits.
    DevsimReset();
    int device = AddDemoHandheld();
    int file = DevsimFind(device, L"Internal storage\\Corvane\\Corvane_Info.ini");
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
    Held<IStream> first, second;
    ASSERT_EQ(S_OK, OpenRead(content, DevsimObjectId(device, file), &first));
    ASSERT_EQ(S_OK, OpenRead(content, DevsimObjectId(device, file), &second));
    DevsimCutReadAt(2);
    char buffer[8];
    ULONG n = 0;
    ASSERT_EQ(S_OK, first->Read(buffer, 8, &n));
    EXPECT_EQ(8u, n) << "the 1st read must not be cut";
    ASSERT_EQ(S_OK, second->Read(buffer, 8, &n));
    EXPECT_EQ(4u, n) << "the 2nd read, on another stream, must be cut to half";
    ASSERT_EQ(S_OK, first->Read(buffer, 8, &n));
    EXPECT_EQ(8u, n) << "a cut on one stream ended another";
    ASSERT_EQ(S_OK, second->Read(buffer, 8, &n));
    EXPECT_EQ(0u, n) << "the cut stream delivered more after the cut";
}

// How many requests run while the watched file is missing or only a phantom: what a run
// killed at any of them would leave behind.
TEST_F(DevsimTest, WatchedFileCountsTheRequestsThatRunWithoutIt)
{
    enum Steps { RENAME_ASIDE_AND_BACK, DELETE_AND_UPLOAD, PULLED_BEFORE_RENAME_BACK, READS_ONLY };
    struct Case {
        const char *why;
        bool phantoms;
        Steps steps;
        long expected;
    } cases[] = {
        // The rename aside leaves it missing; the rename back starts without it.
        {"a rename aside, then the new file renamed into place", false, RENAME_ASIDE_AND_BACK, 2},
        // Delete leaves it missing; create, write and commit all start without it.
        {"a delete, then an upload of the same name", false, DELETE_AND_UPLOAD, 4},
        {"the same on a device that lists the upload as a phantom", true, DELETE_AND_UPLOAD, 4},
        {"requests failed by the pulled cable", false, PULLED_BEFORE_RENAME_BACK, 1},
        {"reads while the file is there", false, READS_ONLY, 0},
    };
    const wchar_t *watched = L"Internal storage\\Corvane\\Corvane_Info.ini";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetPhantoms(device, c.phantoms);
        std::wstring appId = DevsimObjectId(device, DevsimFind(device, L"Internal storage\\Corvane"));
        std::wstring fileId = DevsimObjectId(device, DevsimFind(device, watched));
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
        std::wstring newId;
        if (c.steps == RENAME_ASIDE_AND_BACK || c.steps == PULLED_BEFORE_RENAME_BACK) {
            ASSERT_EQ(S_OK, Upload(content, appId, L"Corvane_Info.new", "new", 3, &newId));
        }
        DevsimWatchFile(device, watched);
        HRESULT nameResult;
        Described seen;
        switch (c.steps) {
        case RENAME_ASIDE_AND_BACK:
            EXPECT_EQ(S_OK, Rename(content, fileId, L"Corvane_Info.old", &nameResult));
            EXPECT_EQ(S_OK, Rename(content, newId, L"Corvane_Info.ini", &nameResult));
            break;
        case DELETE_AND_UPLOAD:
            EXPECT_EQ(S_OK, DeleteOne(content, fileId, PORTABLE_DEVICE_DELETE_NO_RECURSION));
            EXPECT_EQ(S_OK, Upload(content, appId, L"Corvane_Info.ini", "new", 3));
            break;
        case PULLED_BEFORE_RENAME_BACK: {
            EXPECT_EQ(S_OK, Rename(content, fileId, L"Corvane_Info.old", &nameResult));
            // Everything but the requests themselves made ready while the cable is in.
            Held<IPortableDeviceProperties> properties;
            ASSERT_EQ(S_OK, content->Properties(&properties));
            Held<IPortableDeviceValues> name, results, values;
            ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IPortableDeviceValues, (void **)&name));
            ASSERT_EQ(S_OK, name->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, L"Corvane_Info.ini"));
            DevsimPullCableAfter(0);
            const HRESULT pulled = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
            EXPECT_EQ(Hex(pulled), Hex(properties->SetValues(newId.c_str(), name, &results)));
            EXPECT_EQ(Hex(pulled), Hex(properties->GetValues(appId.c_str(), nullptr, &values)));
            DevsimClearRules();
            break;
        }
        case READS_ONLY:
            EXPECT_EQ(S_OK, Describe(content, fileId, &seen));
            break;
        }
        EXPECT_EQ(c.expected, DevsimRequestsWithoutWatchedFile()) << "wrong count of requests without the file";
        DevsimResetCounts();
        EXPECT_EQ(0, DevsimRequestsWithoutWatchedFile()) << "DevsimResetCounts must reset the count";
    }
}

// What EnumObjects answers for every kind of object: anything lists on an ordinary device;
// a device that refuses to list files (as Android does) lists only DEVICE, storages and
// folders; an object whose listing fails answers its code, whatever the rules say. A refused
// listing is still a request: it is counted and logged.
TEST_F(DevsimTest, ListingsAnswerForEachKindOfObject)
{
    const HRESULT invalid = HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), broken = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
    enum Then { KEEP, CLEAR_RULES, SET_S_OK };
    struct Case {
        const char *why;
        const wchar_t *path;
        bool refuse;
        HRESULT fails;   // given to DevsimSetListingFails first (S_OK: not called)
        Then then;
        HRESULT expected;
    } cases[] = {
        {"DEVICE", L"", false, S_OK, KEEP, S_OK},
        {"a storage", L"Internal storage", false, S_OK, KEEP, S_OK},
        {"a folder", L"Internal storage\\Download", false, S_OK, KEEP, S_OK},
        {"an audio file", L"Internal storage\\Download\\song.mp3", false, S_OK, KEEP, S_OK},
        {"a video file", L"Internal storage\\Download\\clip.mp4", false, S_OK, KEEP, S_OK},
        {"an image", L"Internal storage\\Download\\photo.jpg", false, S_OK, KEEP, S_OK},
        {"a generic file", L"Internal storage\\Download\\manual.pdf", false, S_OK, KEEP, S_OK},
        {"a file of unspecified type", L"Internal storage\\Corvane\\Corvane_Info.ini", false, S_OK, KEEP, S_OK},
        {"an object without a content type", L"Internal storage\\Download\\untyped", false, S_OK, KEEP, S_OK},
        {"DEVICE on a device refusing file listings", L"", true, S_OK, KEEP, S_OK},
        {"a storage on a device refusing file listings", L"Internal storage", true, S_OK, KEEP, S_OK},
        {"a folder on a device refusing file listings", L"Internal storage\\Download", true, S_OK, KEEP, S_OK},
        {"an audio file on a device refusing file listings", L"Internal storage\\Download\\song.mp3", true, S_OK, KEEP,
         invalid},
        {"a video file on a device refusing file listings", L"Internal storage\\Download\\clip.mp4", true, S_OK, KEEP,
         invalid},
        {"an image on a device refusing file listings", L"Internal storage\\Download\\photo.jpg", true, S_OK, KEEP,
         invalid},
        {"a generic file on a device refusing file listings", L"Internal storage\\Download\\manual.pdf", true, S_OK,
         KEEP, invalid},
        {"a file of unspecified type on a device refusing file listings", L"Internal storage\\Corvane\\Corvane_Info.ini",
         true, S_OK, KEEP, invalid},
        {"an untyped object on a device refusing file listings", L"Internal storage\\Download\\untyped", true, S_OK,
         KEEP, invalid},
        {"a folder whose listing fails", L"Internal storage\\Download", false, broken, KEEP, broken},
        {"DEVICE whose listing fails", L"", false, E_FAIL, KEEP, E_FAIL},
        {"a failing listing after DevsimClearRules", L"Internal storage\\Download", false, broken, CLEAR_RULES, broken},
        {"a failing listing set back to S_OK", L"Internal storage\\Download", false, broken, SET_S_OK, S_OK},
        {"a failing file listing on a device refusing file listings", L"Internal storage\\Download\\song.mp3", true,
         broken, KEEP, broken},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int device = AddDemoHandheld();
        int download = DevsimFind(device, L"Internal storage\\Download");
        for (const wchar_t *name : {L"song.mp3", L"clip.mp4", L"photo.jpg", L"manual.pdf"})
            DevsimAddFile(device, download, name, "x");
        DevsimAddObject(device, download, L"untyped", nullptr, nullptr, "x", 1);
        DevsimSetFilesRefuseListing(device, c.refuse);
        int object = DevsimFind(device, c.path);
        ASSERT_NE(-1, object) << "the test device lacks the object";
        if (FAILED(c.fails)) DevsimSetListingFails(device, object, c.fails);
        if (c.then == CLEAR_RULES) DevsimClearRules();
        if (c.then == SET_S_OK) DevsimSetListingFails(device, object, S_OK);
        std::wstring id = DevsimObjectId(device, object);
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
        DevsimResetCounts();

        Held<IEnumPortableDeviceObjectIDs> children;
        EXPECT_EQ(Hex(c.expected), Hex(content->EnumObjects(0, id.c_str(), nullptr, &children)))
            << "EnumObjects answered wrongly";
        EXPECT_EQ(1, DevsimCallCountFor("IPortableDeviceContent::EnumObjects", id.c_str()))
            << "the listing was not counted against its object";
        std::vector<std::string> log = DevsimCallLog();
        EXPECT_EQ(std::vector<std::string>{"IPortableDeviceContent::EnumObjects " + Narrow(id)},
                  log)
            << "the listing must be logged once, with its object";
        if (FAILED(c.expected)) {
            EXPECT_TRUE(children.p == nullptr) << "a refused listing handed out an enumerator";
            continue;
        }
        ASSERT_TRUE(children.p != nullptr) << "a listing that succeeded gave no enumerator";
        LPWSTR ids[16] = {};
        ULONG fetched = 0;
        children->Next(16, ids, &fetched);
        for (ULONG i = 0; i < fetched; i++) CoTaskMemFree(ids[i]);
        EXPECT_EQ(DevsimChildren(device, object).size(), fetched) << "the listing did not give every child";
    }
}

// The content type a file gets from its name, checked against the platform's own GUID texts,
// and what a device built with DevsimAddFile then reports for it.
TEST_F(DevsimTest, FilesTakeTheirContentTypeFromTheExtension)
{
    const char *audio = "4AD2C85E-5E2D-45E5-8864-4F229E3C6CF0", *video = "9261B03C-3D78-4519-85E3-02C5E1F50BB9",
               *image = "EF2107D5-A52A-4243-A26B-62D4176D7603", *generic = "0085E0A6-8D34-45D7-BC5C-447E59C73D48",
               *unspecified = "28D8D31E-249C-454E-AABC-34883168E634";
    struct Case {
        const wchar_t *name;
        const char *expected;
    } cases[] = {
        {L"a.mp3", audio}, {L"a.m4a", audio}, {L"a.aac", audio}, {L"a.flac", audio}, {L"a.ogg", audio},
        {L"a.opus", audio}, {L"a.wav", audio}, {L"SONG.MP3", audio}, {L"\u00C9t\u00E9.Opus", audio},
        {L"a.mp4", video}, {L"a.mkv", video}, {L"a.webm", video}, {L"a.3gp", video}, {L"a.avi", video},
        {L"a.mov", video}, {L"Clip.MoV", video},
        {L"a.jpg", image}, {L"a.jpeg", image}, {L"a.png", image}, {L"a.gif", image}, {L"a.bmp", image},
        {L"a.webp", image}, {L"a.heic", image}, {L"IMG_0001.JPG", image},
        {L"a.pdf", generic}, {L"a.txt", generic}, {L"a.zip", generic}, {L"a.apk", generic}, {L"a.doc", generic},
        {L"a.docx", generic}, {L"a.odt", generic}, {L"Notes.TXT", generic},
        {L"Corvane_Info.ini", unspecified},      // the settings file stays untyped
        {L"song.mp3.part", unspecified},         // only the last extension counts
        {L"archive.tar.gz", unspecified},
        {L"mp3", unspecified},                   // a name without a dot has no extension
        {L"trailing.", unspecified},
        {L"a.mp3x", unspecified},
        {L"a.mp", unspecified},
        {L"a.m\u212Av", unspecified},            // the Kelvin sign lowers to "k", but only A to Z fold
        {L"a.docxxxxxx", unspecified},
    };
    EXPECT_EQ(unspecified, GuidText(*DevsimContentTypeFor(nullptr))) << "a file without a name must be unspecified";
    int device = AddDemoHandheld();
    int download = DevsimFind(device, L"Internal storage\\Download");
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
    Held<IPortableDeviceProperties> properties;
    ASSERT_EQ(S_OK, content->Properties(&properties));
    for (const Case &c : cases) {
        std::string name = Narrow(c.name);
        EXPECT_EQ(c.expected, GuidText(*DevsimContentTypeFor(c.name))) << "DevsimContentTypeFor(" << name << ") is wrong";
        int file = DevsimAddFile(device, download, c.name, "x");
        Held<IPortableDeviceValues> values;
        ASSERT_EQ(S_OK, properties->GetValues(DevsimObjectId(device, file).c_str(), nullptr, &values));
        GUID type{}, format{};
        EXPECT_EQ(S_OK, values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &type)) << name << " reports no content type";
        EXPECT_EQ(c.expected, GuidText(type)) << "DevsimAddFile gave " << name << " the wrong content type";
        EXPECT_EQ(S_OK, values->GetGuidValue(WPD_OBJECT_FORMAT, &format)) << name << " reports no format";
        EXPECT_TRUE(IsEqualGUID(WPD_OBJECT_FORMAT_UNSPECIFIED, format)) << "DevsimAddFile must leave "
                                                                       << name << " of unspecified format";
    }
}

// A device whose storages give no file name: only the storages right under DEVICE lose it,
// only the file name goes, and devsim's own paths still walk through them.
TEST_F(DevsimTest, NamelessStoragesLoseTheirFileNameOnly)
{
    struct Case {
        const char *why;
        bool nameless;
        const wchar_t *path;
        bool askKeys;   // GetValues with a key collection, else every key
        const wchar_t *fileName;   // null: the answer must lack WPD_OBJECT_ORIGINAL_FILE_NAME
        const wchar_t *objectName;
    } cases[] = {
        {"a storage, every key asked", true, L"Internal storage", false, nullptr, L"Internal storage"},
        {"a storage, both names asked", true, L"Internal storage", true, nullptr, L"Internal storage"},
        {"a second storage", true, L"SD card", false, nullptr, L"SD card"},
        {"a folder in a storage", true, L"Internal storage\\Corvane", true, L"Corvane", L"Corvane"},
        {"a file in a storage", true, L"Internal storage\\Corvane\\Corvane_Info.ini", false, L"Corvane_Info.ini",
         L"Corvane_Info.ini"},
        {"a storage on an ordinary device", false, L"Internal storage", false, L"Internal storage",
         L"Internal storage"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimAddStorage(device, L"SD card");
        DevsimSetStoragesNameless(device, c.nameless);
        int object = DevsimFind(device, c.path);
        ASSERT_NE(-1, object) << "DevsimFind no longer walks through a nameless storage";
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
        Held<IPortableDeviceProperties> properties;
        ASSERT_EQ(S_OK, content->Properties(&properties));
        Held<IPortableDeviceKeyCollection> keys;
        if (c.askKeys) {
            ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IPortableDeviceKeyCollection, (void **)&keys));
            keys->Add(WPD_OBJECT_ORIGINAL_FILE_NAME);
            keys->Add(WPD_OBJECT_NAME);
        }
        Held<IPortableDeviceValues> values;
        ASSERT_EQ(S_OK, properties->GetValues(DevsimObjectId(device, object).c_str(), keys, &values))
            << "GetValues must succeed whole when a key is only absent";
        LPWSTR text = nullptr;
        HRESULT hr = values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &text);
        if (c.fileName) {
            EXPECT_EQ(S_OK, hr) << "the object lost its file name";
            EXPECT_STREQ(c.fileName, text) << "the file name is wrong";
        } else {
            EXPECT_EQ(Hex(HRESULT_FROM_WIN32(ERROR_NOT_FOUND)), Hex(hr))
                << "a nameless storage's answer must leave the file name out";
        }
        CoTaskMemFree(text);
        text = nullptr;
        EXPECT_EQ(S_OK, values->GetStringValue(WPD_OBJECT_NAME, &text)) << "WPD_OBJECT_NAME went missing";
        EXPECT_STREQ(c.objectName, text) << "WPD_OBJECT_NAME must still say what the object is";
        CoTaskMemFree(text);
        EXPECT_EQ(std::wstring(c.path).substr(std::wstring(c.path).rfind(L'\\') + 1), DevsimName(device, object))
            << "DevsimName must keep the name inside devsim";
    }
}

// A snapshot puts every device back as it was; rules and counters stay as they are.
// An MTP string as the device sends it: the count of UTF-16 units with the NUL, then the units.
std::string MtpText(const std::wstring &text)
{
    std::string out(1, (char)(text.size() + 1));
    for (wchar_t c : text + L'\0') out += std::string{(char)(c & 0xFF), (char)(c >> 8)};
    return out;
}

// Little-endian numbers, as MTP data carries them.
std::string Le(std::vector<ULONGLONG> numbers, int width = 4)
{
    std::string out;
    for (ULONGLONG n : numbers)
        for (int i = 0; i < width; i++) out += (char)(n >> (8 * i));
    return out;
}

const char DemoBytes[] = "[Corvane]\r\nName=Demo phone\r\n";

TEST_F(DevsimTest, StableIdsAreTheMtpHandleInHex)
{
    int device = AddDemoHandheld();
    int app = DevsimFind(device, L"Internal storage\\Corvane");
    int last = -1;
    for (int i = 0; i < 26; i++) last = DevsimAddFile(device, app, (L"f" + std::to_wstring(i)).c_str(), "x");
    ASSERT_EQ(31, last);
    EXPECT_EQ(L"o1F", DevsimObjectId(device, last)) << "a stable id must be \"o\" and the object's handle in upper-case hex";
    EXPECT_EQ(L"DEVICE", DevsimObjectId(device, DEVSIM_ROOT));
    EXPECT_EQ(last, DevsimObjectById(device, L"o1F"));
    DevsimSetIdScheme(device, DEVSIM_IDS_FROM_NAMES);
    EXPECT_EQ(L"n4/f25", DevsimObjectId(device, last)) << "ids from names keep their own form";
}

// Every operation of the pass-through on the demo handheld, in order: what it answers, what it
// sends, and what the file holds after it. Android's edit rules: a file only, one edit at a time,
// truncates and writes only inside an edit.
TEST_F(DevsimTest, MtpOperationsAnswerAsAndroidsServerDoes)
{
    int device = AddDemoHandheld();
    DevsimSetEditOperations(device, DEVSIM_EDIT_LISTED);
    const DWORD file = 5, folder = 4, phantom = (DWORD)DevsimAddPhantom(device, 3, L"partial.ini"), unknown = 0x999,
                all = 0xFFFFFFFF;
    ASSERT_EQ(file, (DWORD)DevsimFind(device, L"Internal storage\\Corvane\\Corvane_Info.ini"));
    const std::string demo = DemoBytes, same = "=";   // "=": the file as it was before the row
    struct Row {
        const char *why;
        DWORD code;
        std::vector<DWORD> args;
        Phase phase;
        std::string send;
        DWORD response;
        std::string data, fileAfter;
    } rows[] = {
        {"the storages", 0x1004, {}, TO_HOST, "", 0x2001, Le({1, 0x10001}), same},
        {"the storage's top level", 0x1007, {0x10001, 0, all}, TO_HOST, "", 0x2001, Le({3, 2, 3, 4}), same},
        {"everything on every storage", 0x1007, {all, 0, 0}, TO_HOST, "", 0x2001, Le({5, 2, 3, phantom, 4, 5}), same},
        {"a folder's children", 0x1007, {all, 0, folder}, TO_HOST, "", 0x2001, Le({1, file}), same},
        {"a file is no folder to list", 0x1007, {all, 0, file}, TO_HOST, "", 0x2009, "", same},
        {"an unknown storage", 0x1007, {0x20001, 0, all}, TO_HOST, "", 0x2008, "", same},
        {"a file's name", 0x9803, {file, 0xDC07}, TO_HOST, "", 0x2001, MtpText(L"Corvane_Info.ini"), same},
        {"a file's size", 0x9803, {file, 0xDC04}, TO_HOST, "", 0x2001, Le({demo.size()}, 8), same},
        {"a file's folder", 0x9803, {file, 0xDC0B}, TO_HOST, "", 0x2001, Le({folder}), same},
        {"a top-level folder's parent", 0x9803, {folder, 0xDC0B}, TO_HOST, "", 0x2001, Le({0}), same},
        {"a property Android does not give", 0x9803, {file, 0xDC44}, TO_HOST, "", 0xA801, "", same},
        {"the name of an unknown handle", 0x9803, {unknown, 0xDC07}, TO_HOST, "", 0x2009, "", same},
        {"a storage is no object", 0x1009, {1}, TO_HOST, "", 0x2009, "", same},
        {"a file's bytes", 0x1009, {file}, TO_HOST, "", 0x2001, demo, same},
        {"a folder has no bytes", 0x1009, {folder}, TO_HOST, "", 0x2002, "", same},
        {"a phantom has no file", 0x1009, {phantom}, TO_HOST, "", 0x2002, "", same},
        {"part of a file", 0x95C1, {file, 11, 0, 4}, TO_HOST, "", 0x2001, "Name", same},
        {"part from past the end", 0x95C1, {file, 29, 0, 4}, TO_HOST, "", 0x201D, "", same},
        {"a truncate outside an edit", 0x95C3, {file, 0, 0}, NO_DATA, "", 0x2002, "", demo},
        {"a write outside an edit", 0x95C2, {file, 0, 0, 2}, TO_DEVICE, "XY", 0x2002, "", demo},
        {"an end outside an edit", 0x95C5, {file}, NO_DATA, "", 0x2002, "", demo},
        {"an edit of a folder", 0x95C4, {folder}, NO_DATA, "", 0x2002, "", same},
        {"an edit of a phantom", 0x95C4, {phantom}, NO_DATA, "", 0x2002, "", same},
        {"an edit of an unknown handle", 0x95C4, {unknown}, NO_DATA, "", 0x2009, "", same},
        {"the edit begins", 0x95C4, {file}, NO_DATA, "", 0x2001, "", demo},
        {"a second edit of the same file", 0x95C4, {file}, NO_DATA, "", 0x2002, "", demo},
        {"a truncate inside the edit", 0x95C3, {file, 4, 0}, NO_DATA, "", 0x2001, "", "[Cor"},
        {"bytes at an offset", 0x95C2, {file, 2, 0, 2}, TO_DEVICE, "XY", 0x2001, "", "[CXY"},
        {"bytes past the end leave zeros between", 0x95C2, {file, 6, 0, 1}, TO_DEVICE, "Z", 0x2001, "",
         std::string("[CXY\0\0Z", 7)},
        {"fewer bytes than announced", 0x95C2, {file, 0, 0, 3}, TO_DEVICE, "AB", 0x2007, "", std::string("ABXY\0\0Z", 7)},
        {"the edit ends", 0x95C5, {file}, NO_DATA, "", 0x2001, "", same},
        {"an operation Android does not have", 0x9999, {}, NO_DATA, "", 0x2005, "", same},
    };
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        std::string before = DevsimData(device, file);
        Mtp m = Operation(dev, r.code, r.args, r.phase, r.send, 5);
        ASSERT_EQ(S_OK, m.call) << "SendCommand itself failed";
        ASSERT_EQ(S_OK, m.driver) << "the driver refused a well-formed command";
        EXPECT_EQ(Hex(r.response), Hex(m.response)) << "the operation's MTP response";
        EXPECT_TRUE(r.data == m.data) << "the data that came differ, " << m.data.size() << " bytes came";
        if (r.phase == TO_HOST) EXPECT_EQ(r.data.size(), m.total) << "TRANSFER_TOTAL_DATA_SIZE is not what the device sends";
        EXPECT_TRUE((r.fileAfter == same ? before : r.fileAfter) == DevsimData(device, file))
            << "the file holds other bytes after the row (" << DevsimData(device, file).size() << " bytes)";
    }
    EXPECT_EQ(5, DevsimCallCount("MTP::BeginEditObject")) << "each operation is counted under its name";
    std::vector<std::string> log = DevsimCallLog();
    for (const char *entry : {"0x95C4 o4", "0x1009 read o5", "0x95C2 write o5", "0x95C2 end o5", "0x1004"})
        EXPECT_TRUE(std::find(log.begin(), log.end(), std::string("IPortableDevice::SendCommand ") + entry) != log.end())
            << "no \"" << entry << "\" in the call log: a command is logged with its operation, what it does "
            << "in a transfer, and the object of the operation's handle";
}

// The vendor operations and extension the driver learnt at connect, for each kind of device, and
// what BeginEditObject answers there. Neither query is a request: busy requests do not touch them.
TEST_F(DevsimTest, EditOperationsAreListedAsEachKindOfDeviceSays)
{
    const wchar_t *android = L"microsoft.com: 1.0; android.com: 1.0;";
    struct Row {
        const char *why;
        DevsimEditOps mode;
        bool readOnly;
        HRESULT listed;      // the driver's answer to GET_SUPPORTED_VENDOR_OPCODES
        bool listsFive;
        const wchar_t *extension;
        HRESULT beginDriver;
        DWORD beginResponse;
    } rows[] = {
        {"a device without the edit operations", DEVSIM_EDIT_ABSENT, false, S_OK, false, L"microsoft.com: 1.0;", S_OK, 0x2005},
        {"a device that lists them", DEVSIM_EDIT_LISTED, false, S_OK, true, android, S_OK, 0x2001},
        {"a driver that does not say", DEVSIM_EDIT_UNANSWERED, false, E_NOTIMPL, false, android, S_OK, 0x2001},
        {"a read-only session", DEVSIM_EDIT_LISTED, true, S_OK, true, android, E_ACCESSDENIED, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetEditOperations(device, r.mode);
        Held<IPortableDevice> dev;
        ASSERT_EQ(S_OK, Open(L"\\\\?\\usb#demo", r.readOnly, &dev));
        DevsimBusyAt(1, 1000);
        Held<IPortableDeviceValues> results, description;
        HRESULT driver = S_OK, extensionDriver = S_OK;
        ASSERT_EQ(S_OK, Command(dev, WPD_COMMAND_MTP_EXT_GET_SUPPORTED_VENDOR_OPCODES, [](IPortableDeviceValues *) {},
                                &results, &driver));
        ASSERT_EQ(S_OK, Command(dev, WPD_COMMAND_MTP_EXT_GET_VENDOR_EXTENSION_DESCRIPTION, [](IPortableDeviceValues *) {},
                                &description, &extensionDriver));
        DevsimBusyAt(0, 0);
        EXPECT_EQ(Hex(r.listed), Hex(driver)) << "the driver's answer to the vendor-operation query";
        int five = 0;
        Held<IPortableDevicePropVariantCollection> codes;
        if (SUCCEEDED(driver) && SUCCEEDED(results->GetIPortableDevicePropVariantCollectionValue(
                                     WPD_PROPERTY_MTP_EXT_VENDOR_OPERATION_CODES, &codes))) {
            DWORD count = 0;
            codes->GetCount(&count);
            EXPECT_GT(count, 0u) << "the list must hold the device's other vendor operations";
            for (DWORD i = 0; i < count; i++) {
                PROPVARIANT v;
                PropVariantInit(&v);
                codes->GetAt(i, &v);
                five += v.vt == VT_UI4 && v.ulVal >= 0x95C1 && v.ulVal <= 0x95C5;
                PropVariantClear(&v);
            }
        }
        EXPECT_EQ(r.listsFive ? 5 : 0, five) << "how many of Android's five edit operations are listed";
        LPWSTR text = nullptr;
        EXPECT_EQ(S_OK, extensionDriver);
        if (SUCCEEDED(extensionDriver)) description->GetStringValue(WPD_PROPERTY_MTP_EXT_VENDOR_EXTENSION_DESCRIPTION, &text);
        EXPECT_STREQ(r.extension, text) << "the vendor extension description";
        CoTaskMemFree(text);
        Mtp begin = Operation(dev, 0x95C4, {5}, NO_DATA);
        EXPECT_EQ(Hex(r.beginDriver), Hex(begin.driver)) << "the driver's answer to BeginEditObject";
        EXPECT_EQ(Hex(r.beginResponse), Hex(begin.response)) << "BeginEditObject's MTP response";
    }
}

// A transfer's data phase: the total and the device's buffer size at the start, the chunks asked,
// the buffer a read must give, a total a write must keep to, and the end every transfer needs.
TEST_F(DevsimTest, TransfersMoveTheirDataInChunksAndEachMustBeEnded)
{
    int device = AddDemoHandheld();
    DevsimSetEditOperations(device, DEVSIM_EDIT_LISTED);
    DevsimSetOptimalSizes(device, 100, 200);
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content));
    Mtp read = Operation(dev, 0x1009, {5}, TO_HOST, "", 7);
    EXPECT_EQ(DemoBytes, read.data) << "the object read in chunks of 7";
    EXPECT_EQ(28u, read.total);
    EXPECT_EQ(100u, read.optimal) << "the device's read size is the optimal transfer buffer size to the host";
    EXPECT_EQ((std::vector<DWORD>{7, 7, 7, 7, 7}), DevsimReadSizes()) << "the sizes READ_DATA asked, the last read empty";
    EXPECT_EQ(0, DevsimUnfinishedTransfers()) << "a transfer read whole and ended is finished";
    EXPECT_EQ(Hex(0x2001), Hex(Operation(dev, 0x95C4, {5}, NO_DATA).response));
    Mtp write = Operation(dev, 0x95C2, {5, 0, 0, 3}, TO_DEVICE, "abc", 2);
    EXPECT_EQ(200u, write.optimal) << "the device's write size is the optimal transfer buffer size to the device";
    EXPECT_EQ((std::vector<DWORD>{2, 1}), DevsimWriteSizes()) << "the sizes WRITE_DATA gave";
    Operation(dev, 0x1009, {5}, TO_HOST, "", 7, false);
    EXPECT_EQ(1, DevsimUnfinishedTransfers()) << "a transfer never ended is unfinished";
    DevsimCutReadAt(2);
    Mtp cut = Operation(dev, 0x1009, {5}, TO_HOST, "", 4, true);
    EXPECT_EQ(28u, cut.total);
    EXPECT_EQ(6u, cut.data.size()) << "a link cut at the second read delivers half of it, then nothing";
    EXPECT_EQ(Hex(0x2001), Hex(cut.response)) << "the device says all is well";
    EXPECT_EQ(1, DevsimUnfinishedTransfers()) << "a transfer read to its end and ended is finished";

    // Commands the driver refuses: E_INVALIDARG for a read without its buffer, a write past the
    // total and an unknown context; E_NOTIMPL for an unknown command.
    Held<IPortableDeviceValues> results;
    HRESULT driver = S_OK;
    ASSERT_EQ(S_OK, Command(dev, WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_READ, [](IPortableDeviceValues *p) {
        p->SetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_OPERATION_CODE, 0x1004);
        Held<IPortableDevicePropVariantCollection> none;
        CoCreateInstance(CLSID_PortableDevicePropVariantCollection, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IPortableDevicePropVariantCollection, (void **)&none);
        p->SetIPortableDevicePropVariantCollectionValue(WPD_PROPERTY_MTP_EXT_OPERATION_PARAMS, none);
    }, &results, &driver));
    LPWSTR text = nullptr;
    ASSERT_EQ(S_OK, results->GetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, &text));
    std::wstring context = text;
    CoTaskMemFree(text);
    struct Refused {
        const char *why;
        const PROPERTYKEY *command;
        const wchar_t *context;
        bool buffer;
        HRESULT driver;
    } refused[] = {
        {"a read without the buffer to fill", &WPD_COMMAND_MTP_EXT_READ_DATA, context.c_str(), false, E_INVALIDARG},
        {"a write on a transfer to the host", &WPD_COMMAND_MTP_EXT_WRITE_DATA, context.c_str(), true, E_INVALIDARG},
        {"the end of an unknown transfer", &WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER, L"nothing", false, E_INVALIDARG},
        {"the end of the transfer", &WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER, context.c_str(), false, S_OK},
        {"its end once more", &WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER, context.c_str(), false, E_INVALIDARG},
        {"a command of no such id", &WPD_COMMAND_MTP_EXT_GET_VENDOR_EXTENSION_DESCRIPTION, nullptr, false, E_NOTIMPL},
    };
    for (const Refused &r : refused) {
        SCOPED_TRACE(r.why);
        PROPERTYKEY command = *r.command;
        if (!r.context) command.pid = 99;
        Held<IPortableDeviceValues> answer;
        EXPECT_EQ(S_OK, Command(dev, command, [&](IPortableDeviceValues *p) {
            if (r.context) p->SetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, r.context);
            p->SetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_READ, 4);
            if (r.buffer) p->SetBufferValue(WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, (BYTE *)"abcd", 4);
        }, &answer, &driver)) << "the driver's refusals go in the results, not in SendCommand's answer";
        EXPECT_EQ(Hex(r.driver), Hex(driver));
    }
    EXPECT_EQ(2, DevsimUnfinishedTransfers()) << "a transfer to the host ended before its data was read is unfinished";
}

// An in-place rewrite keeps the object, its id and its owner, where an upload makes an object the
// MTP service owns (a rename keeps that owner); the driver's cached size stays stale until a
// reconnect; the watched file counts as missing from the truncate to the end of the write.
TEST_F(DevsimTest, InPlaceEditsKeepTheObjectAndItsOwner)
{
    const std::string shorter = "[Corvane]\r\nName=Al\r\n", longer = "[Corvane]\r\nName=A much longer name\r\n";
    struct Row {
        const char *why;
        bool growthLies;
        std::string rewrite, held;
    } rows[] = {
        {"a rewrite that shrinks", false, shorter, shorter},
        {"a rewrite that grows", false, longer, longer},
        {"a device whose growth lies keeps the old length", true, longer, longer.substr(0, 28)},
    };
    char dir[MAX_PATH], state[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "dsm", 0, state);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetEditOperations(device, DEVSIM_EDIT_LISTED);
        DevsimSetGrowthLies(device, r.growthLies);
        const wchar_t *path = L"Internal storage\\Corvane\\Corvane_Info.ini";
        int file = DevsimFind(device, path);
        std::wstring id = DevsimObjectId(device, file), appId = DevsimObjectId(device, 4), uploadedId;
        Held<IPortableDevice> dev;
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, OpenDemo(&dev, &content));
        ASSERT_EQ(S_OK, Upload(content, appId, L"copy.ini", "copy", 4, &uploadedId));
        HRESULT nameResult;
        ASSERT_EQ(S_OK, Rename(content, uploadedId, L"renamed.ini", &nameResult));
        int uploaded = DevsimObjectById(device, uploadedId.c_str());
        EXPECT_FALSE(DevsimOwnedByApp(device, uploaded)) << "an uploaded object belongs to the MTP service, renamed or not";

        DevsimWatchFile(device, path);
        const struct { DWORD code; std::vector<DWORD> args; Phase phase; std::string send; } steps[] = {
            {0x95C4, {(DWORD)file}, NO_DATA, ""},
            {0x95C3, {(DWORD)file, 0, 0}, NO_DATA, ""},
            {0x95C2, {(DWORD)file, 0, 0, (DWORD)r.rewrite.size()}, TO_DEVICE, r.rewrite},
            {0x95C5, {(DWORD)file}, NO_DATA, ""},
        };
        for (const auto &step : steps)
            EXPECT_EQ(Hex(0x2001), Hex(Operation(dev, step.code, step.args, step.phase, step.send).response))
                << "operation " << Hex(step.code) << " of the rewrite";
        EXPECT_EQ(2, DevsimRequestsWithoutWatchedFile()) << "the truncate and the write run while the file is cut";
        EXPECT_TRUE(r.held == DevsimData(device, file)) << "the file holds " << DevsimData(device, file).size() << " bytes";
        EXPECT_EQ(file, DevsimFind(device, path)) << "the rewrite must keep the object";
        EXPECT_EQ(id, DevsimObjectId(device, file)) << "the rewrite must keep the id";
        EXPECT_TRUE(DevsimOwnedByApp(device, file)) << "the rewrite must keep the app's ownership";

        Described seen;
        ASSERT_EQ(S_OK, Describe(content, id, &seen));
        EXPECT_EQ(28u, seen.size) << "WPD_OBJECT_SIZE must stay the size from before the edit";
        EXPECT_EQ(Le({r.held.size()}, 8), Operation(dev, 0x9803, {(DWORD)file, 0xDC04}, TO_HOST).data)
            << "ObjectSize must state the size as it is";
        Held<IStream> reader;
        ASSERT_EQ(S_OK, OpenRead(content, id, &reader));
        char buffer[64];
        ULONG n = 0;
        reader->Read(buffer, sizeof buffer, &n);
        EXPECT_EQ(r.held, std::string(buffer, n)) << "a read must give the bytes as they are";
        DevsimReconnect(device);
        ASSERT_EQ(S_OK, Describe(content, id, &seen));
        EXPECT_EQ(r.held.size(), seen.size) << "after a reconnect WPD_OBJECT_SIZE must state the size as it is";

        ASSERT_TRUE(DevsimSaveState(state));
        std::vector<std::string> saved = StateLines(state);
        EXPECT_TRUE(HasLine(saved, "mtp-owned Internal storage/Corvane/renamed.ini"))
            << "the saved state must record that the upload is not the app's";
        EXPECT_FALSE(HasLine(saved, "mtp-owned Internal storage/Corvane/Corvane_Info.ini"));
    }
    DeleteFileA(state);
}

// The pass-through under the rules every call obeys: a busy device (executes are requests, the
// rest of a transfer is not), a response code given by a rule, failures after acting, the cable
// pulled in the middle of an edit (the device stays as it is).
TEST_F(DevsimTest, MtpCommandsObeyTheRulesOfEveryCall)
{
    int device = AddDemoHandheld();
    DevsimSetEditOperations(device, DEVSIM_EDIT_LISTED);
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content));
    const HRESULT busy = HRESULT_FROM_WIN32(ERROR_BUSY), pulled = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);

    DevsimBusyAt(2, 1);   // the read's execute is request 1; the next operation's, request 2
    EXPECT_EQ(DemoBytes, Operation(dev, 0x1009, {5}, TO_HOST, "", 7).data) << "reads and the end are no requests";
    EXPECT_EQ(Hex(busy), Hex(Operation(dev, 0x95C4, {5}, NO_DATA).call)) << "the next execute is the second request";
    DevsimBusyAt(0, 0);

    DevsimFailCall("MTP::BeginEditObject", 1, DEVSIM_MTP_RESPONSE(0x2019));
    EXPECT_EQ(Hex(0x2019), Hex(Operation(dev, 0x95C4, {5}, NO_DATA).response)) << "a rule's response code";
    EXPECT_EQ(Hex(0x2002), Hex(Operation(dev, 0x95C3, {5, 0, 0}, NO_DATA).response))
        << "a BeginEditObject answered with a rule's code must not have begun the edit";
    DevsimFailCall("MTP::GetObject", 1, DEVSIM_MTP_RESPONSE(0x2002), nullptr, DEVSIM_AFTER_ACTING);
    Mtp late = Operation(dev, 0x1009, {5}, TO_HOST);
    EXPECT_EQ(DemoBytes, late.data) << "a failure after acting comes once the data went across";
    EXPECT_EQ(Hex(0x2002), Hex(late.response)) << "at the end of the transfer";

    ASSERT_EQ(Hex(0x2001), Hex(Operation(dev, 0x95C4, {5}, NO_DATA).response));
    DevsimFailCall("MTP::TruncateObject", 1, E_FAIL, L"o5", DEVSIM_AFTER_ACTING);
    EXPECT_EQ(Hex(E_FAIL), Hex(Operation(dev, 0x95C3, {5, 0, 0}, NO_DATA).call));
    EXPECT_EQ("", DevsimData(device, 5)) << "a truncate that fails after acting has truncated";
    DevsimFailCall("IPortableDevice::SendCommand", 2, HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT), L"o5", DEVSIM_AFTER_ACTING);
    EXPECT_EQ(Hex(HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT)), Hex(Operation(dev, 0x95C2, {5, 0, 0, 2}, TO_DEVICE, "ab").call))
        << "the second command of the write is its WRITE_DATA";
    EXPECT_EQ("ab", DevsimData(device, 5)) << "a WRITE_DATA that fails after acting has written";

    DevsimPullCableAfter(0);
    EXPECT_EQ(Hex(pulled), Hex(Operation(dev, 0x95C5, {5}, NO_DATA).call));
    DevsimClearRules();
    EXPECT_EQ(Hex(0x2002), Hex(Operation(dev, 0x95C4, {5}, NO_DATA).response)) << "the edit must have stayed open";
    EXPECT_EQ("ab", DevsimData(device, 5)) << "the pulled cable changed the file";
    EXPECT_EQ(0, DevsimUnfinishedTransfers()) << "every transfer here was ended by the client, failures or not";
}

TEST_F(DevsimTest, SnapshotsPutTheDevicesBackAsTheyWere)
{
    char dir[MAX_PATH], before[MAX_PATH], after[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "dsm", 0, before);
    GetTempFileNameA(dir, "dsm", 0, after);
    int device = AddDemoHandheld();
    DevsimSetPhantoms(device, true);
    DevsimSetReadsEndWithSFalse(device, true);
    DevsimSetIdScheme(device, DEVSIM_IDS_REISSUED_ON_RENAME);
    int app = DevsimFind(device, L"Internal storage\\Corvane");
    int file = DevsimFind(device, L"Internal storage\\Corvane\\Corvane_Info.ini");
    std::wstring fileId = DevsimObjectId(device, file);
    Held<IPortableDevice> dev;
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, OpenDemo(&dev, &content)) << "the demo handheld should open and give its content";
    {
        Held<IStream> abandoned;
        ASSERT_EQ(S_OK, Create(content, DevsimObjectId(device, app), L"partial.ini", 5, &abandoned));
    }
    int phantom = DevsimFind(device, L"Internal storage\\Corvane\\partial.ini");
    DevsimSetDeny(device, DEVSIM_DENY_ONCE);   // the next Open is denied, from the snapshot too
    ASSERT_TRUE(DevsimSaveState(before));
    DevsimSnapshot snapshot = DevsimTakeSnapshot();

    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round == 0 ? "first restore" : "second restore of the same snapshot");
        HRESULT nameResult;
        EXPECT_EQ(S_OK, Rename(content, DevsimObjectId(device, file), L"Renamed.ini", &nameResult));
        EXPECT_EQ(S_OK, DeleteOne(content, DevsimObjectId(device, DevsimFind(device, L"Internal storage\\DCIM")),
                                  PORTABLE_DEVICE_DELETE_NO_RECURSION));
        DevsimReconnect(device);
        DevsimSetPhantoms(device, false);
        DevsimSetReadsEndWithSFalse(device, false);
        DevsimSetIdScheme(device, DEVSIM_IDS_STABLE);
        DevsimAddDevice(L"another");
        DevsimFailCall("IPortableDeviceProperties::GetValues", 1, E_FAIL);
        long calls = DevsimTotalCalls();

        DevsimRestoreSnapshot(snapshot);
        ASSERT_TRUE(DevsimSaveState(after));
        EXPECT_EQ(StateLines(before), StateLines(after)) << "the devices read back differ from the snapshot";
        EXPECT_EQ(fileId, DevsimObjectId(device, file)) << "the renamed file must get its old id back";
        EXPECT_EQ(file, DevsimObjectById(device, fileId.c_str())) << "the old id must name the file again";
        EXPECT_TRUE(DevsimIsPhantom(device, phantom)) << "the phantom must come back";
        EXPECT_EQ(-1, DevsimFind(1, L"")) << "a device added after the snapshot must be gone";
        EXPECT_EQ(calls, DevsimTotalCalls()) << "a restore must leave the counters alone";
        Described seen;
        EXPECT_EQ(Hex(E_FAIL), Hex(Describe(content, fileId, &seen))) << "a restore must leave the rules alone";
        DevsimClearRules();
        Held<IPortableDevice> again;
        EXPECT_EQ(Hex(E_ACCESSDENIED), Hex(Open(L"\\\\?\\usb#demo", false, &again)))
            << "the deny mode must be back before its one denial";
        EXPECT_EQ(S_OK, Open(L"\\\\?\\usb#demo", false, &again)) << "a deny once must deny one Open only";
    }
    DeleteFileA(before);
    DeleteFileA(after);
}

TEST_F(DevsimTest, ScenarioStateRoundTripsThroughTheTextFormat)
{
    char dir[MAX_PATH], scenario[MAX_PATH], state[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "dsm", 0, scenario);
    GetTempFileNameA(dir, "dsm", 0, state);
    // A listing failure names an object that must be there already.
    FILE *f = fopen(scenario, "wb");
    ASSERT_TRUE(f != nullptr);
    fputs("device early\r\nlisting-fails 8007001F Card/Corvane\r\nfolder Card/Corvane\r\n", f);
    fclose(f);
    EXPECT_FALSE(DevsimLoadScenario(scenario)) << "a listing failure for an object not yet made must not parse";
    DevsimReset();
    f = fopen(scenario, "wb");
    ASSERT_TRUE(f != nullptr);
    fputs("device early\r\nmtp-owned Card/x.ini\r\nhex Card/x.ini 00\r\n", f);
    fclose(f);
    EXPECT_FALSE(DevsimLoadScenario(scenario)) << "an owner for an object not yet made must not parse";
    DevsimReset();

    f = fopen(scenario, "wb");
    ASSERT_TRUE(f != nullptr);
    // The second device's storage gives no file name before the lines that walk through it.
    fputs("# two devices\r\ndevice first\r\nlisting-fails 80070015\r\nfolder Phone/Pictures\r\n"
          "device second\r\ndeny readwrite\r\noptimal 512 4096\r\nstorage Card\r\nnameless-storages\r\n"
          "file Card/Corvane/Corvane_Info.ini\r\n[Corvane]\r\nName=Ann\r\n.\r\nhex Card/raw.bin 00ff41\r\n"
          "phantoms\r\nreads-end-sfalse\r\nphantom Card/Corvane/partial.ini\r\nphantom Card/Later/partial.ini\r\n"
          "files-refuse-listing\r\nlisting-fails 8007001F Card/Corvane\r\nhex Card/song.mp3 00\r\n"
          "file Card/clip.MP4\r\n.\r\nfiles 1 file track .mp3 Card/Music\r\nfiles 1 image IMG .jpg Card/DCIM\r\n"
          "edit-ops unanswered\r\ngrowth-lies\r\nmtp-owned Card/raw.bin\r\n",
          f);
    fclose(f);
    ASSERT_TRUE(DevsimLoadScenario(scenario)) << "the scenario must parse";
    EXPECT_EQ(1u, DevsimChildren(1, DEVSIM_ROOT).size()) << "a path through the nameless storage made another storage";
    {
        // What types the statements gave their files; the saved state keeps files as hex only.
        Held<IPortableDevice> dev;
        ASSERT_EQ(S_OK, Open(L"second", true, &dev));
        Held<IPortableDeviceContent> content;
        ASSERT_EQ(S_OK, dev->Content(&content));
        struct Typed {
            const wchar_t *path;
            const GUID *type;
        } typed[] = {
            {L"Card\\song.mp3", &DEVSIM_CONTENT_TYPE_AUDIO},
            {L"Card\\clip.MP4", &DEVSIM_CONTENT_TYPE_VIDEO},
            {L"Card\\Corvane\\Corvane_Info.ini", &WPD_CONTENT_TYPE_UNSPECIFIED},
            {L"Card\\Music\\track_00001.mp3", &WPD_CONTENT_TYPE_UNSPECIFIED},   // "files ... file" keeps its kind
            {L"Card\\DCIM\\IMG_00001.jpg", &WPD_CONTENT_TYPE_IMAGE},
        };
        for (const Typed &t : typed) {
            Described seen;
            ASSERT_EQ(S_OK, Describe(content, DevsimObjectId(1, DevsimFind(1, t.path)), &seen)) << Narrow(t.path);
            EXPECT_EQ(GuidText(*t.type), GuidText(seen.type)) << "the scenario gave " << Narrow(t.path)
                                                              << " the wrong content type";
        }
    }
    int app = DevsimFind(1, L"Card\\Corvane\\Corvane_Info.ini");
    ASSERT_NE(-1, app) << "the file line must create missing parents";
    EXPECT_EQ("[Corvane]\r\nName=Ann\r\n", DevsimData(1, app)) << "content lines end with CRLF";
    EXPECT_EQ(std::string("\x00\xff\x41", 3), DevsimData(1, DevsimFind(1, L"Card\\raw.bin")));
    EXPECT_NE(-1, DevsimFind(0, L"Phone\\Pictures"));
    EXPECT_TRUE(DevsimIsPhantom(1, DevsimFind(1, L"Card\\Corvane\\partial.ini"))) << "the phantom line made no phantom";
    EXPECT_TRUE(DevsimIsPhantom(1, DevsimFind(1, L"Card\\Later\\partial.ini")))
        << "the phantom line must make its missing parents";

    ASSERT_TRUE(DevsimSaveState(state));
    std::vector<std::string> saved = StateLines(state);
    for (const char *line : {"phantoms", "reads-end-sfalse", "phantom Card/Corvane/partial.ini", "files-refuse-listing",
                             "nameless-storages", "listing-fails 80070015", "listing-fails 8007001F Card/Corvane",
                             "edit-ops unanswered", "growth-lies", "mtp-owned Card/raw.bin"})
        EXPECT_TRUE(HasLine(saved, line)) << "the saved state lacks the line \"" << line << "\"";
    EXPECT_FALSE(HasLine(saved, "hex Card/Corvane/partial.ini -")) << "a phantom must not be saved as an empty file";
    DevsimReset();
    ASSERT_TRUE(DevsimLoadScenario(state)) << "the saved state must read back as a scenario";
    EXPECT_EQ("[Corvane]\r\nName=Ann\r\n", DevsimData(1, DevsimFind(1, L"Card\\Corvane\\Corvane_Info.ini")));
    EXPECT_EQ(std::string("\x00\xff\x41", 3), DevsimData(1, DevsimFind(1, L"Card\\raw.bin")));
    EXPECT_NE(-1, DevsimFind(0, L"Phone\\Pictures"));
    EXPECT_TRUE(DevsimIsPhantom(1, DevsimFind(1, L"Card\\Corvane\\partial.ini"))) << "the phantom did not survive";
    EXPECT_FALSE(DevsimOwnedByApp(1, DevsimFind(1, L"Card\\raw.bin"))) << "the MTP service's ownership did not survive";
    EXPECT_TRUE(DevsimOwnedByApp(1, DevsimFind(1, L"Card\\Corvane\\Corvane_Info.ini"))) << "a file of a scenario is the app's";
    ASSERT_TRUE(DevsimSaveState(state));
    EXPECT_EQ(saved, StateLines(state)) << "the state read back must save as the same statements";
    Held<IPortableDevice> dev;
    EXPECT_EQ(Hex(E_ACCESSDENIED), Hex(Open(L"second", false, &dev))) << "the deny mode must survive the round trip";
    ASSERT_EQ(S_OK, Open(L"second", true, &dev));
    Held<IPortableDeviceContent> content;
    ASSERT_EQ(S_OK, dev->Content(&content));
    Held<IStream> reader;
    ASSERT_EQ(S_OK, OpenRead(content, DevsimObjectId(1, DevsimFind(1, L"Card\\raw.bin")), &reader));
    char buffer[16];
    ULONG n = 0;
    EXPECT_EQ(S_FALSE, reader->Read(buffer, sizeof buffer, &n)) << "short reads must still say S_FALSE once read back";
    struct Listing {
        const wchar_t *path;
        HRESULT expected;
    } listings[] = {
        {L"Card", S_OK},
        {L"Card\\Corvane", HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)},
        {L"Card\\raw.bin", HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER)},
    };
    for (const Listing &l : listings) {
        Held<IEnumPortableDeviceObjectIDs> children;
        EXPECT_EQ(Hex(l.expected),
                  Hex(content->EnumObjects(0, DevsimObjectId(1, DevsimFind(1, l.path)).c_str(), nullptr, &children)))
            << "the listing of " << Narrow(l.path) << " answers otherwise once read back";
    }
    Described storage;
    EXPECT_EQ(Hex(HRESULT_FROM_WIN32(ERROR_NOT_FOUND)), Hex(Describe(content, DevsimObjectId(1, DevsimFind(1, L"Card")), &storage)))
        << "the storage must still give no file name once read back";
    DeleteFileA(scenario);
    DeleteFileA(state);
}

}  // namespace
