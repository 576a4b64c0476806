// Downloads, uploads and deletes of device files against the simulated handheld.
#include <string>
#include <vector>
#include "devfs/devfs.h"
#include "devfs/devfs_internal.h"
#include "support/device_fixture.h"
#include "support/local_files.h"

namespace {

std::string Pattern(size_t size)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i++) data[i] = (char)('A' + (i * 7) % 26);
    return data;
}

bool SameKey(const PROPERTYKEY &a, const PROPERTYKEY &b)
{
    return IsEqualGUID(a.fmtid, b.fmtid) && a.pid == b.pid;
}

std::string KeyName(const PROPERTYKEY &key)
{
    static const struct { const PROPERTYKEY *key; const char *name; } names[] = {
        {&WPD_OBJECT_PARENT_ID, "PARENT_ID"}, {&WPD_OBJECT_SIZE, "SIZE"},
        {&WPD_OBJECT_ORIGINAL_FILE_NAME, "ORIGINAL_FILE_NAME"}, {&WPD_OBJECT_NAME, "NAME"},
        {&WPD_OBJECT_CONTENT_TYPE, "CONTENT_TYPE"}, {&WPD_OBJECT_FORMAT, "FORMAT"},
    };
    for (const auto &n : names)
        if (SameKey(*n.key, key)) return n.name;
    return "pid " + std::to_string(key.pid);
}

std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

// The demo handheld plus a few things to move; the layer started on it.
class TransferTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        device_ = AddDemoHandheld();
        dcim_ = DevsimFind(device_, L"Internal storage\\DCIM");
        download_ = DevsimFind(device_, L"Internal storage\\Download");
        ASSERT_GE(dcim_, 0) << "the demo handheld has no DCIM folder";
        ASSERT_GE(download_, 0) << "the demo handheld has no Download folder";
        scratch_ = MakeScratchFolder("transfer");
    }
    void TearDown() override
    {
        DeviceTest::TearDown();
        RemoveScratchFolder(scratch_);
    }
    void StartOnDevice()
    {
        Start(1);
        ASSERT_EQ(0, DevConnection.deviceUnavailable) << "discovery did not open the demo handheld";
        DevsimResetCounts();
    }
    int Object(const wchar_t *path) { return DevsimFind(device_, path); }

    int device_ = -1, dcim_ = -1, download_ = -1;
    std::string scratch_;
};

const char SettingsFile[] = "*:\\Corvane\\Corvane_Info.ini";
const wchar_t SettingsObject[] = L"Internal storage\\Corvane\\Corvane_Info.ini";
const char DemoContent[] = "[Corvane]\r\nName=Demo phone\r\n";

// A download is read in chunks of the device's optimal size when it fits the 1024-byte
// buffer, else in chunks of 1024; an upload is written the same way.
TEST_F(TransferTest, ChunksFollowTheOptimalSizeUpToTheBuffer)
{
    const size_t fileSize = 3000;
    const struct { DWORD optimal; DWORD chunk; } cases[] = {
        {0, 1024}, {512, 512}, {1024, 1024}, {4096, 1024}, {1, 1},
    };
    std::string data = Pattern(fileSize);
    DevsimAddFile(device_, download_, L"blob.bin", data);
    std::string local = scratch_ + "blob.bin";
    ASSERT_TRUE(WriteLocalFile(scratch_ + "up.bin", data));
    StartOnDevice();
    for (const auto &c : cases) {
        SCOPED_TRACE("optimal buffer size " + std::to_string(c.optimal));
        DevsimSetOptimalSizes(device_, c.optimal, c.optimal);
        DevsimResetCounts();

        ASSERT_TRUE(DevCopyFile("*:\\Download\\blob.bin", local.c_str(), FALSE)) << "download failed";
        std::string got;
        ASSERT_TRUE(ReadLocalFile(local, &got)) << "the download left no local file";
        EXPECT_EQ(data.size(), got.size()) << "the downloaded file has the wrong size";
        EXPECT_TRUE(got == data) << "the downloaded bytes differ from the device's";
        std::vector<DWORD> reads = DevsimReadSizes();
        size_t fullReads = (fileSize + c.chunk - 1) / c.chunk;
        EXPECT_EQ(fullReads + 1, reads.size())
            << "expected " << fullReads << " reads with data and one empty read that ends the stream";
        for (size_t i = 0; i < reads.size(); i++)
            EXPECT_EQ(c.chunk, reads[i]) << "read " << i << " asked the stream for the wrong size";

        ASSERT_TRUE(DevCopyFile((scratch_ + "up.bin").c_str(), "*:\\Download\\up.bin", FALSE)) << "upload failed";
        std::vector<DWORD> writes = DevsimWriteSizes();
        ASSERT_EQ(fullReads, writes.size()) << "the upload wrote the wrong number of chunks";
        for (size_t i = 0; i < writes.size(); i++) {
            DWORD expected = i + 1 < writes.size() ? c.chunk : (DWORD)(fileSize - (writes.size() - 1) * c.chunk);
            EXPECT_EQ(expected, writes[i]) << "write " << i << " gave the stream the wrong size";
        }
        int up = Object(L"Internal storage\\Download\\up.bin");
        ASSERT_GE(up, 0) << "the uploaded object is not on the device";
        EXPECT_TRUE(DevsimData(device_, up) == data) << "the uploaded object's bytes differ from the local file";
    }
    Shutdown();
}

// failIfExists is ignored on download: the local file is always replaced.
TEST_F(TransferTest, DownloadReplacesAnExistingLocalFile)
{
    std::string local = scratch_ + "settings.ini";
    ASSERT_TRUE(WriteLocalFile(local, std::string(5000, 'x')));
    StartOnDevice();
    ASSERT_TRUE(DevCopyFile(SettingsFile, local.c_str(), TRUE))
        << "a download onto an existing local file with failIfExists set must still succeed";
    std::string got;
    ASSERT_TRUE(ReadLocalFile(local, &got));
    EXPECT_EQ(DemoContent, got) << "the local file was not replaced by the device file (old bytes left behind?)";
    Shutdown();
}

// A download that fails after the local file was created deletes it; one that fails
// before (nothing to download) leaves the local path as it was.
TEST_F(TransferTest, FailedDownloadLeavesNoPartialLocalFile)
{
    const struct { const char *why; const char *method; int nth; const char *devicePath; bool fileStays; } cases[] = {
        {"second stream read fails", "IStream::Read", 2, "*:\\Download\\big.bin", false},
        {"first stream read fails", "IStream::Read", 1, "*:\\Download\\big.bin", false},
        {"the resource stream cannot be opened", "IPortableDeviceResources::GetStream", 1, "*:\\Download\\big.bin", false},
        {"the transfer service is refused", "IPortableDeviceContent::Transfer", 1, "*:\\Download\\big.bin", false},
        {"the device path does not resolve", nullptr, 0, "*:\\Download\\missing.bin", true},
    };
    DevsimAddFile(device_, download_, L"big.bin", Pattern(4000));
    DevsimSetOptimalSizes(device_, 1024, 1024);
    StartOnDevice();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        std::string local = scratch_ + "partial.bin";
        ASSERT_TRUE(WriteLocalFile(local, "previous"));
        if (c.method) DevsimFailCall(c.method, c.nth, E_FAIL);
        EXPECT_FALSE(DevCopyFile(c.devicePath, local.c_str(), FALSE)) << "the download should have failed";
        std::string got;
        if (c.fileStays) {
            ASSERT_TRUE(ReadLocalFile(local, &got)) << "a download that never started removed the local file";
            EXPECT_EQ("previous", got) << "a download that never started changed the local file";
        } else {
            EXPECT_FALSE(LocalFileExists(local))
                << "a failed download left a partial local file behind (" << (ReadLocalFile(local, &got) ? got.size() : 0)
                << " bytes)";
        }
        DeleteFileA(local.c_str());
    }
    Shutdown();
}

TEST_F(TransferTest, DeviceToDeviceCopyIsRefusedAndTouchesNeither)
{
    StartOnDevice();
    int before = Object(SettingsObject);
    EXPECT_FALSE(DevCopyFile(SettingsFile, "*:\\Download\\copy.ini", FALSE))
        << "a copy between two device paths must be refused";
    EXPECT_FALSE(DevCopyFile(SettingsFile, SettingsFile, FALSE)) << "a copy of a device file onto itself must be refused";
    EXPECT_EQ(before, Object(SettingsObject)) << "the source object was replaced";
    EXPECT_EQ(DemoContent, DevsimData(device_, before)) << "the source object changed";
    EXPECT_TRUE(DevsimChildren(device_, download_).empty()) << "something was created in the destination folder";
    EXPECT_EQ(0, DevsimCallCount("IPortableDeviceContent::Delete")) << "a refused copy deleted something";
    EXPECT_EQ(0, DevsimCallCount("IPortableDeviceContent::CreateObjectWithPropertiesAndData"))
        << "a refused copy created something";
    EXPECT_EQ(0, DevsimCallCount("IPortableDeviceResources::GetStream")) << "a refused copy read something";
    Shutdown();
}

TEST_F(TransferTest, DeleteRemovesTheObjectAndAMissingPathCountsAsDeleted)
{
    DevsimAddFile(device_, download_, L"old.txt", "old");
    StartOnDevice();
    const struct { const char *path; long deletes; } cases[] = {
        {"*:\\Download\\old.txt", 1},
        {"*:\\Download\\old.txt", 0},      // now gone
        {"*:\\Download\\never.txt", 0},
        {"*:\\NoSuchFolder\\never.txt", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        DevsimResetCounts();
        EXPECT_TRUE(DevDeleteFile(c.path)) << "delete must return 1 for an existing and for a missing device file";
        EXPECT_EQ(c.deletes, DevsimCallCount("IPortableDeviceContent::Delete"))
            << "the device's Delete was called the wrong number of times";
    }
    EXPECT_LT(Object(L"Internal storage\\Download\\old.txt"), 0) << "the deleted object is still on the device";
    EXPECT_GE(Object(SettingsObject), 0) << "deleting one file removed another";
    Shutdown();
}

// The properties of a new object, in order; image extensions (any case) add a content
// type and the EXIF format, every other extension neither.
TEST_F(TransferTest, UploadSetsObjectPropertiesInOrder)
{
    const struct { const char *file; bool image; } cases[] = {
        {"photo.JPG", true}, {"photo.jpeg", true}, {"scan.Bmp", true}, {"anim.gif", true},
        {"notes.ini", false}, {"photo.jpg.txt", false}, {"noextension", false},
    };
    std::string data = Pattern(1500);
    StartOnDevice();
    std::wstring dcimId = DevsimObjectId(device_, dcim_);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        std::string local = scratch_ + c.file;
        ASSERT_TRUE(WriteLocalFile(local, data));
        ASSERT_TRUE(DevCopyFile(local.c_str(), (std::string("*:\\DCIM\\") + c.file).c_str(), FALSE)) << "upload failed";
        std::vector<DevsimProperty> props = DevsimLastCreateProperties();
        std::string order;
        for (const auto &p : props) order += KeyName(p.key) + " ";
        const char *expected = c.image ? "PARENT_ID SIZE ORIGINAL_FILE_NAME NAME CONTENT_TYPE FORMAT "
                                       : "PARENT_ID SIZE ORIGINAL_FILE_NAME NAME ";
        ASSERT_EQ(expected, order) << "the new object's properties are wrong or out of order";
        std::string name = c.file;
        std::string base = name.substr(0, name.rfind('.') == std::string::npos ? name.size() : name.rfind('.'));
        EXPECT_EQ(Narrow(dcimId), Narrow(props[0].text)) << "PARENT_ID is not the receiving folder";
        EXPECT_EQ(VT_UI8, props[1].type) << "SIZE must be an unsigned 64-bit value";
        EXPECT_EQ(data.size(), props[1].number) << "SIZE is not the local file's size";
        EXPECT_EQ(name, Narrow(props[2].text)) << "ORIGINAL_FILE_NAME must be base name and extension";
        EXPECT_EQ(base, Narrow(props[3].text)) << "NAME must be the base name alone";
        if (c.image) {
            EXPECT_TRUE(IsEqualGUID(WPD_CONTENT_TYPE_IMAGE, props[4].guid)) << "an image needs the image content type";
            EXPECT_TRUE(IsEqualGUID(WPD_OBJECT_FORMAT_EXIF, props[5].guid)) << "an image needs the EXIF format";
        }
    }
    EXPECT_EQ((size_t)(sizeof cases / sizeof cases[0]), DevsimChildren(device_, dcim_).size())
        << "every upload should have left one object in DCIM";
    Shutdown();
}

TEST_F(TransferTest, EmptyFileUploadsAsObjectOfSizeZeroWithImmediateCommit)
{
    std::string local = scratch_ + "empty.ini";
    ASSERT_TRUE(WriteLocalFile(local, ""));
    StartOnDevice();
    ASSERT_TRUE(DevCopyFile(local.c_str(), "*:\\Download\\empty.ini", FALSE)) << "uploading an empty file failed";
    EXPECT_EQ(0, DevsimCallCount("IStream::Write")) << "an empty file needs no stream write";
    EXPECT_EQ(1, DevsimCommits()) << "an empty file is committed once, at once";
    std::vector<DevsimProperty> props = DevsimLastCreateProperties();
    ASSERT_GE(props.size(), 2u);
    EXPECT_EQ(0u, props[1].number) << "an empty file must be announced with SIZE 0";
    int object = Object(L"Internal storage\\Download\\empty.ini");
    ASSERT_GE(object, 0) << "the empty file was not created on the device";
    EXPECT_TRUE(DevsimData(device_, object).empty()) << "the new object should hold no bytes";
    Shutdown();
}

// Without failIfExists an upload replaces the object of its name with a new one; with it, an
// upload only creates, and refuses where the folder holds the file or a leftover of a replace.
TEST_F(TransferTest, UploadReplacesTheObjectOfItsNameUnlessFailIfExistsSaysCreateOnly)
{
    int app = Object(L"Internal storage\\Corvane");
    std::string local = scratch_ + "new.ini";
    ASSERT_TRUE(WriteLocalFile(local, "[Corvane]\r\nName=Replaced\r\n"));
    StartOnDevice();
    int old = Object(SettingsObject);
    std::wstring oldId = DevsimObjectId(device_, old);
    EXPECT_FALSE(DevCopyFile(local.c_str(), SettingsFile, TRUE)) << "a create-only upload over an existing object succeeded";
    EXPECT_EQ(old, Object(SettingsObject)) << "a create-only upload replaced the existing object";
    EXPECT_EQ(DemoContent, DevsimData(device_, old)) << "a create-only upload changed the existing object";
    ASSERT_TRUE(DevCopyFile(local.c_str(), SettingsFile, FALSE)) << "upload over an existing object failed";
    int now = Object(SettingsObject);
    ASSERT_GE(now, 0) << "after the upload the settings file is gone";
    EXPECT_FALSE(DevsimExists(device_, old)) << "the old object was not deleted";
    EXPECT_NE(Narrow(oldId), Narrow(DevsimObjectId(device_, now))) << "the upload should create a new object id";
    EXPECT_EQ(L"Corvane_Info.ini", DevsimName(device_, now)) << "the new object has another name";
    EXPECT_EQ(1u, DevsimChildren(device_, app).size()) << "the app folder should hold exactly the one new file";
    EXPECT_EQ("[Corvane]\r\nName=Replaced\r\n", DevsimData(device_, now)) << "the new object holds other bytes";

    DevsimRemove(device_, now);
    DevsimAddFile(device_, app, L"Corvane_Info.ini.tessaly-old", DemoContent);
    EXPECT_FALSE(DevCopyFile(local.c_str(), SettingsFile, TRUE)) << "a create-only upload beside a leftover succeeded";
    EXPECT_LT(Object(SettingsObject), 0) << "a create-only upload created the file beside a leftover";
    DevsimRemove(device_, Object(L"Internal storage\\Corvane\\Corvane_Info.ini.tessaly-old"));
    EXPECT_TRUE(DevCopyFile(local.c_str(), SettingsFile, TRUE)) << "a create-only upload into a folder without the file failed";
    EXPECT_GE(Object(SettingsObject), 0) << "the create-only upload did not create the file";
    Shutdown();
}

// On a device that cannot rename, the old object must go before the new one can take its
// name. Whatever keeps it from being deleted fails the upload and leaves the old object as it
// was: the complete new copy written first goes again where the device lets it.
TEST_F(TransferTest, WithoutRenamingAnUndeletableOldObjectLeavesTheDeviceAsItWas)
{
    const struct { const char *why; void (*arm)(int device); bool copyStays; } cases[] = {
        {"Delete answers S_FALSE", [](int device) { DevsimSetDeleteRefused(device, true); }, true},
        {"Delete fails", [](int) { DevsimFailCall("IPortableDeviceContent::Delete", 1, E_FAIL); }, false},
        {"no id collection", [](int) { DevsimFailCall("CoCreateInstance:PropVariantCollection", 1, E_OUTOFMEMORY); }, false},
        {"the id cannot be added", [](int) { DevsimFailCall("IPortableDevicePropVariantCollection::Add", 1, E_FAIL); }, false},
    };
    int app = Object(L"Internal storage\\Corvane");
    std::string local = scratch_ + "new.ini";
    ASSERT_TRUE(WriteLocalFile(local, "[Corvane]\r\nName=Never\r\n"));
    DevsimSetRenameRefused(device_, true);
    StartOnDevice();
    int old = Object(SettingsObject);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        c.arm(device_);
        EXPECT_FALSE(DevDeleteFile(SettingsFile)) << "a delete the device did not carry out must return 0";
        c.arm(device_);
        EXPECT_FALSE(DevCopyFile(local.c_str(), SettingsFile, FALSE)) << "the upload must fail when the old object stays";
        EXPECT_EQ(old, Object(SettingsObject)) << "the old object was replaced";
        EXPECT_EQ(DemoContent, DevsimData(device_, old)) << "the old object's content changed";
        int copy = Object(L"Internal storage\\Corvane\\Corvane_Info.ini.tessaly-new");
        if (c.copyStays)
            EXPECT_EQ("[Corvane]\r\nName=Never\r\n", DevsimData(device_, copy)) << "a leftover that is not the new copy";
        else
            EXPECT_EQ(1u, DevsimChildren(device_, app).size()) << "the new copy was left beside the old file";
        DevsimSetDeleteRefused(device_, false);
        DevsimClearRules();
        if (copy >= 0) DevsimRemove(device_, copy);
    }
    Shutdown();
}

// A new object that cannot be completely written is never committed: a truncated settings
// file would be worse than none. The old file never left its name, on either kind of device.
TEST_F(TransferTest, IncompleteUploadIsNeverCommitted)
{
    const struct { const char *why; void (*arm)(int device); long commitCalls; } cases[] = {
        {"the stream reports short writes", [](int device) { DevsimSetShortWrites(device, true); }, 0},
        {"a stream write fails", [](int) { DevsimFailCall("IStream::Write", 2, E_FAIL); }, 0},
        {"the object cannot be created", [](int) {
             DevsimFailCall("IPortableDeviceContent::CreateObjectWithPropertiesAndData", 1, E_FAIL); }, 0},
        {"the commit fails", [](int) { DevsimFailCall("IStream::Commit", 1, E_FAIL); }, 1},
    };
    std::string local = scratch_ + "big.bin";
    ASSERT_TRUE(WriteLocalFile(local, Pattern(3000)));
    DevsimSetOptimalSizes(device_, 1024, 1024);
    StartOnDevice();
    for (bool renames : {true, false}) {
        DevsimSetRenameRefused(device_, !renames);
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.why) + (renames ? ", device renames" : ", device does not rename"));
            DevsimAddFile(device_, download_, L"big.bin", "old");
            c.arm(device_);
            DevsimResetCounts();
            EXPECT_FALSE(DevCopyFile(local.c_str(), "*:\\Download\\big.bin", FALSE)) << "an incomplete upload must fail";
            // A device need not notice a short count itself: the layer must not even ask for the commit.
            EXPECT_EQ(c.commitCalls, DevsimCallCount("IStream::Commit"))
                << "a stream that did not take every byte was asked to commit";
            EXPECT_EQ(0, DevsimCommits()) << "a stream that did not take every byte was committed";
            int object = Object(L"Internal storage\\Download\\big.bin");
            ASSERT_GE(object, 0) << "the old object lost its name";
            EXPECT_EQ("old", DevsimData(device_, object)) << "the file under the name is not the old one";
            EXPECT_EQ(1u, DevsimChildren(device_, download_).size()) << "something was left beside the old file";
            DevsimRemove(device_, object);
            DevsimSetShortWrites(device_, false);
        }
    }
    Shutdown();
}

// The new file is written whole under a second name first; then the old one is renamed aside,
// the new one takes the real name, and the old one goes. A device that cannot rename loses the
// old one only once the new copy is on it, and that copy goes once the file is back. Leftovers
// of an earlier run are removed by the next upload, so they never pile up.
TEST_F(TransferTest, UploadWritesTheNewFileWholeBeforeTheOldOneLeavesItsName)
{
    const struct { bool renames; const char *order; } cases[] = {
        {true, "create Commit SetValues SetValues Delete"},
        {false, "create Commit SetValues Delete create Commit Delete"},
    };
    int app = Object(L"Internal storage\\Corvane");
    std::string local = scratch_ + "new.ini";
    ASSERT_TRUE(WriteLocalFile(local, "[Corvane]\r\nName=Second\r\n"));
    StartOnDevice();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.renames ? "device renames" : "device does not rename");
        DevsimSetRenameRefused(device_, !c.renames);
        int old = Object(SettingsObject);
        DevsimResetCounts();
        ASSERT_TRUE(DevCopyFile(local.c_str(), SettingsFile, FALSE)) << "the upload failed";
        std::string order;
        for (const std::string &entry : DevsimCallLog()) {
            std::string method = entry.substr(0, entry.find(' '));
            if (method == "IPortableDeviceContent::CreateObjectWithPropertiesAndData") order += " create";
            else if (method == "IStream::Commit" || method == "IPortableDeviceProperties::SetValues" ||
                     method == "IPortableDeviceContent::Delete")
                order += " " + method.substr(method.find("::") + 2);
        }
        EXPECT_EQ(std::string(" ") + c.order, order)
            << "the new file must be committed under another name before the old one is renamed aside or deleted";
        EXPECT_FALSE(DevsimExists(device_, old)) << "the old object was not deleted";
        ASSERT_EQ(1u, DevsimChildren(device_, app).size()) << "the app folder should hold only the new file";
        EXPECT_EQ("[Corvane]\r\nName=Second\r\n", DevsimData(device_, Object(SettingsObject)));
    }

    // A run that could not delete the old file leaves it aside; the next upload removes it.
    DevsimSetRenameRefused(device_, false);
    DevsimFailCall("IPortableDeviceContent::Delete", 1, E_FAIL);
    ASSERT_TRUE(DevCopyFile(local.c_str(), SettingsFile, FALSE)) << "an upload whose last delete failed still succeeded";
    ASSERT_EQ(2u, DevsimChildren(device_, app).size()) << "the undeletable old file should still be there";
    int aside = DevsimFind(device_, L"Internal storage\\Corvane\\Corvane_Info.ini.tessaly-old");
    EXPECT_GE(aside, 0) << "the old file left aside is named after the file";
    ASSERT_TRUE(DevCopyFile(local.c_str(), SettingsFile, FALSE)) << "the next upload failed";
    EXPECT_FALSE(DevsimExists(device_, aside)) << "the next upload did not remove the old file left before";
    EXPECT_EQ(1u, DevsimChildren(device_, app).size()) << "leftovers pile up in the app folder";
    EXPECT_EQ("[Corvane]\r\nName=Second\r\n", DevsimData(device_, Object(SettingsObject)));
    Shutdown();
}

// Nothing on the device changes when the upload cannot even start, and the file keeps the
// name it has on the device whatever letter case the path uses.
TEST_F(TransferTest, UploadChangesNothingUntilItCanStartAndKeepsTheDevicesName)
{
    StartOnDevice();
    int old = Object(SettingsObject);
    for (bool renames : {true, false}) {
        SCOPED_TRACE(renames ? "device renames" : "device does not rename");
        DevsimSetRenameRefused(device_, !renames);
        DevsimResetCounts();
        EXPECT_FALSE(DevCopyFile("C:\\nope.ini", SettingsFile, FALSE)) << "an upload of a missing local file must fail";
        EXPECT_EQ(0, DevsimCallCount("IPortableDeviceContent::Delete")) << "the device file was deleted";
        EXPECT_EQ(0, DevsimCallCount("IPortableDeviceProperties::SetValues")) << "the device file was renamed";
        EXPECT_EQ(old, Object(SettingsObject)) << "the device file was replaced";

        // A local file held open without sharing cannot be read either.
        std::string local = scratch_ + "busy.ini";
        ASSERT_TRUE(WriteLocalFile(local, "[Corvane]\r\nName=Busy\r\n"));
        HANDLE held = CreateFileA(local.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        EXPECT_FALSE(DevCopyFile(local.c_str(), SettingsFile, FALSE)) << "an upload of a file held open must fail";
        CloseHandle(held);
        EXPECT_EQ(old, Object(SettingsObject)) << "the device file was replaced by an upload that could not start";
        EXPECT_EQ(DemoContent, DevsimData(device_, old));
    }
    for (bool renames : {true, false}) {
        SCOPED_TRACE(renames ? "device renames" : "device does not rename");
        DevsimSetRenameRefused(device_, !renames);
        std::string local = scratch_ + "case.ini";
        ASSERT_TRUE(WriteLocalFile(local, "[Corvane]\r\nName=Case\r\n"));
        ASSERT_TRUE(DevCopyFile(local.c_str(), "*:\\CORVANE\\CORVANE_INFO.INI", FALSE)) << "upload failed";
        int now = Object(SettingsObject);
        ASSERT_GE(now, 0) << "the file lost the name it had on the device";
        EXPECT_EQ(L"Corvane_Info.ini", DevsimName(device_, now));
        std::vector<DevsimProperty> props = DevsimLastCreateProperties();
        ASSERT_GE(props.size(), 4u);
        EXPECT_EQ("Corvane_Info", Narrow(props[3].text)) << "NAME must follow the device's spelling too";
    }
    Shutdown();
}

// Only "no such object" counts as deleted; a device that does not answer is a failure.
TEST_F(TransferTest, DeleteFailsWhenTheDeviceCannotSayWhetherTheFileIsThere)
{
    StartOnDevice();
    std::wstring app = DevsimObjectId(device_, Object(L"Internal storage\\Corvane"));
    std::wstring file = DevsimObjectId(device_, Object(SettingsObject));
    const struct { const char *why; const char *method; const wchar_t *id; } cases[] = {
        {"the folder cannot be listed", "IPortableDeviceContent::EnumObjects", app.c_str()},
        {"a name cannot be read", "IPortableDeviceProperties::GetValues", file.c_str()},
        {"the listing breaks off", "IEnumPortableDeviceObjectIDs::Next", app.c_str()},
        {"the properties service is refused", "IPortableDeviceContent::Properties", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        DevReleasePropertyReads();   // the service is got once per connection: the next look gets it anew
        DevsimFailCall(c.method, 1, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), c.id);
        EXPECT_FALSE(DevDeleteFile(SettingsFile)) << "a delete that could not look for the file must return 0";
        EXPECT_GE(Object(SettingsObject), 0) << "the file is gone";
    }
    DevsimValueError(file.c_str(), &WPD_OBJECT_ORIGINAL_FILE_NAME, 1, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
    EXPECT_FALSE(DevDeleteFile(SettingsFile)) << "a name the device could not read is no missing file";
    EXPECT_TRUE(DevDeleteFile("*:\\Corvane\\Missing.ini")) << "a file that is not there counts as deleted";
    Shutdown();
    EXPECT_FALSE(DevDeleteFile(SettingsFile)) << "after shut-down a device delete must fail";
}

// The MTP pass-through on the handheld: each row rewrites the settings file in place through its
// checked handle and reads it back. The object, its owner and the driver's stale size stay; the
// device's own size and bytes tell what happened; every transfer ends and every begun edit too.
TEST_F(TransferTest, MtpPassThroughRewritesInPlaceAndReadsBackWhatTheDeviceHolds)
{
    const std::string demo = DemoContent, shorter = "[Corvane]\r\nName=Al\r\n",
                      longer = "[Corvane]\r\nName=" + Pattern(3000) + "\r\n";
    const HRESULT fail = E_FAIL;
    struct Row {
        const char *why;
        void (*arm)(int device);
        const std::string &rewrite;
        HRESULT result;
        int touched;
        std::string held;      // what the device holds after
        HRESULT readBack;      // MtpReadObject compared with the rewrite
        DWORD chunk;           // the largest chunk a data command may carry
        int ends = -1;         // EndEditObject calls (-1: one when the edit began)
    } rows[] = {
        {"a rewrite that shrinks", [](int) {}, shorter, S_OK, 1, shorter, S_OK, 1024},
        {"a rewrite that grows, in the driver's smaller chunks", [](int d) { DevsimSetOptimalSizes(d, 300, 300); },
         longer, S_OK, 1, longer, S_OK, 300},
        {"a device whose growth lies", [](int d) { DevsimSetGrowthLies(d, true); }, longer, S_OK, 1,
         longer.substr(0, demo.size()), S_FALSE, 1024},
        {"a busy BeginEditObject waited for", [](int) { DevsimFailCall("MTP::BeginEditObject", 1, DEVSIM_MTP_RESPONSE(0x2019)); },
         shorter, S_OK, 1, shorter, S_OK, 1024},
        // Read back in small chunks: a compare that differs early still reads to the end.
        {"BeginEditObject refused", [](int d) {
             DevsimSetOptimalSizes(d, 10, 10);
             DevsimFailCall("MTP::BeginEditObject", 1, DEVSIM_MTP_RESPONSE(0x200F));
         }, shorter, DEV_E_MTP_RESPONSE(0x200F), 0, demo, S_FALSE, 10},
        // Android answers General_Error to a second BeginEditObject while an edit is open.
        {"an edit a killed run left open is ended first",
         [](int) { DevsimFailCall("MTP::BeginEditObject", 1, DEVSIM_MTP_RESPONSE(0x2002)); }, shorter, S_OK, 1, shorter,
         S_OK, 1024, 2},
        {"a device without the edit operations", [](int d) { DevsimSetEditOperations(d, DEVSIM_EDIT_ABSENT); }, shorter,
         DEV_E_MTP_RESPONSE(0x2005), 0, demo, S_FALSE, 1024},
        {"the truncate's answer lost", [](int) { DevsimFailCall("MTP::TruncateObject", 1, fail, nullptr, DEVSIM_AFTER_ACTING); },
         shorter, fail, 1, "", S_FALSE, 1024},
        {"SendPartialObject refused", [](int) { DevsimFailCall("MTP::SendPartialObject", 1, fail); }, shorter, fail, 1, "",
         S_FALSE, 1024},
        {"a write the device took short", [](int) { DevsimFailCall("MTP::SendPartialObject", 1, DEVSIM_MTP_RESPONSE(0x2007),
                                                                  nullptr, DEVSIM_AFTER_ACTING); },
         shorter, DEV_E_MTP_RESPONSE(0x2007), 1, shorter, S_OK, 1024},
    };
    DevsimSetEditOperations(device_, DEVSIM_EDIT_LISTED);
    StartOnDevice();
    int info = Object(SettingsObject);
    DevsimSnapshot start = DevsimTakeSnapshot();
    std::string local = scratch_ + "rewrite.ini";
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        DevsimRestoreSnapshot(start);
        DevsimClearRules();
        r.arm(device_);
        DevsimResetCounts();
        ASSERT_TRUE(WriteLocalFile(local, r.rewrite));
        HANDLE file = CreateFileA(local.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD handle = 0;
        int touched = -1;
        ASSERT_EQ(S_OK, MtpHandleOf(DevConnection.InfoFileId, L"Corvane_Info.ini", &handle))
            << "the settings file's id must give its handle";
        EXPECT_EQ(Hex(r.result), Hex(MtpRewriteInPlace(handle, file, (DWORD)r.rewrite.size(), &touched)));
        EXPECT_EQ(r.touched, touched) << "whether the object may have changed";
        EXPECT_TRUE(r.held == DevsimData(device_, info)) << "the device holds " << Printable(DevsimData(device_, info));
        EXPECT_EQ(info, Object(SettingsObject)) << "an in-place rewrite must keep the object";
        EXPECT_TRUE(DevsimOwnedByApp(device_, info)) << "an in-place rewrite must keep the app's ownership";
        EXPECT_EQ(r.ends >= 0 ? r.ends : touched, DevsimCallCount("MTP::EndEditObject"))
            << "an edit that began must be ended, once (and one left open before it)";
        DevDigest seen = {}, held;
        DevDigestStart(&held);
        DevDigestAdd(&held, (const BYTE *)r.held.data(), (DWORD)r.held.size());
        EXPECT_EQ(Hex(r.readBack), Hex(MtpReadObject(handle, file, TRUE, &seen))) << "the read back, compared";
        EXPECT_TRUE(DevDigestEqual(&held, &seen)) << "the digest of the read back is not what the device holds";
        ULONGLONG size = 0, stated = 0;
        LPWSTR name = nullptr;
        EXPECT_EQ(S_OK, MtpObjectSize(handle, &size));
        EXPECT_EQ(r.held.size(), size) << "ObjectSize must be the size the device holds now";
        ASSERT_EQ(S_OK, GetObjectNameAndSize(DevConnection.properties, DevConnection.InfoFileId, &name, &stated));
        CoTaskMemFree(name);
        EXPECT_EQ(demo.size(), stated) << "the driver's WPD_OBJECT_SIZE stays stale, the reason for ObjectSize";
        std::vector<DWORD> chunks = DevsimReadSizes(), writes = DevsimWriteSizes();
        chunks.insert(chunks.end(), writes.begin(), writes.end());
        for (DWORD n : chunks) EXPECT_LE(n, r.chunk) << "a data command carried more than the buffer or the driver's size";
        EXPECT_EQ(0, DevsimUnfinishedTransfers()) << "a transfer was left unfinished";
        CloseHandle(file);
    }

    // Ids the handle comes from: only "o" and the handle in hex, of the object of that name.
    DevsimRestoreSnapshot(start);
    const struct { const wchar_t *id, *name; HRESULT hr; DWORD handle; } ids[] = {
        {L"o5", L"CORVANE_INFO.INI", S_OK, 5},
        {L"o4", L"Corvane_Info.ini", DEV_E_MTP_HANDLE_MISMATCH, 0},
        {L"o999", L"Corvane_Info.ini", DEV_E_MTP_RESPONSE(0x2009), 0},
        {L"n4/Corvane_Info.ini", L"Corvane_Info.ini", DEV_E_MTP_NOT_A_HANDLE, 0},
        {L"o5r1", L"Corvane_Info.ini", DEV_E_MTP_NOT_A_HANDLE, 0},
        {L"o123456789", L"Corvane_Info.ini", DEV_E_MTP_NOT_A_HANDLE, 0},
        {L"o", L"Corvane_Info.ini", DEV_E_MTP_NOT_A_HANDLE, 0},
        {L"DEVICE", L"Corvane_Info.ini", DEV_E_MTP_NOT_A_HANDLE, 0},
    };
    for (const auto &c : ids) {
        DWORD handle = 7;
        EXPECT_EQ(Hex(c.hr), Hex(MtpHandleOf(c.id, c.name, &handle))) << Narrow(c.id);
        EXPECT_EQ(c.handle, handle) << Narrow(c.id) << ": a handle that does not check out must not be given";
    }
    int touched = -1;
    EXPECT_EQ(Hex(E_FAIL), Hex(MtpRewriteInPlace(5, INVALID_HANDLE_VALUE, 3, &touched)));
    EXPECT_TRUE(touched == 0 && DevsimData(device_, info) == demo) << "an unreadable local file must never begin an edit";
    // A link that loses the tail of a read; a read into a local file.
    HANDLE copy = CreateFileA(local.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DevsimCutReadAt(1);
    EXPECT_EQ(Hex(DEV_E_INCOMPLETE), Hex(MtpReadObject(5, copy, FALSE, nullptr))) << "fewer bytes than the total came";
    EXPECT_EQ(S_OK, MtpReadObject(5, copy, FALSE, nullptr));
    CloseHandle(copy);
    std::string got;
    EXPECT_TRUE(ReadLocalFile(local, &got) && got == demo) << "the read wrote " << Printable(got);

    // Asked once per connection: a device that changes its mind later is not asked again.
    const struct { DevsimEditOps mode; int answer; } lists[] = {
        {DEVSIM_EDIT_ABSENT, MTP_EDIT_NOT_LISTED}, {DEVSIM_EDIT_LISTED, MTP_EDIT_LISTED},
        {DEVSIM_EDIT_UNANSWERED, MTP_EDIT_UNANSWERED},
    };
    for (const auto &c : lists) {
        DevsimSetEditOperations(device_, c.mode);
        DevConnection.mtpEditAnswer = 0;
        DevsimResetCounts();
        EXPECT_EQ(c.answer, MtpEditOperations()) << "for devsim's mode " << c.mode;
        DevsimSetEditOperations(device_, c.mode == DEVSIM_EDIT_LISTED ? DEVSIM_EDIT_ABSENT : DEVSIM_EDIT_LISTED);
        EXPECT_EQ(c.answer, MtpEditOperations()) << "the answer must be kept for the connection";
        EXPECT_EQ(1, DevsimCallCount("IPortableDevice::SendCommand")) << "the device must be asked once";
    }
    WCHAR extension[DEV_PATH_CHARS];
    EXPECT_EQ(S_OK, MtpVendorExtension(extension));
    EXPECT_STREQ(L"microsoft.com: 1.0; android.com: 1.0;", extension);
    Shutdown();
}

}  // namespace
