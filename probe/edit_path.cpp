// What the phone offers for an in-place edit of the settings file, asked through the MTP
// pass-through without changing anything: the lines say which path a save would take.
#include "probe/probe.h"

void ReportEditPath(void)
{
    static const char *const listed[] = { "not listed", "listed", "not answered (the driver will not say)" };
    WCHAR extension[DEV_PATH_CHARS];
    char text[DEV_PATH_CHARS * 3];
    LPWSTR name = NULL;
    ULONGLONG stated = DEV_SIZE_UNKNOWN, held = DEV_SIZE_UNKNOWN;
    DWORD handle = 0;
    IPortableDeviceProperties *properties = NULL;
    HRESULT hr = MtpVendorExtension(extension);
    Out("vendor extension: %s\r\n", SUCCEEDED(hr) ? Utf8(extension, text, sizeof text) : HrText(hr));
    int edits = MtpEditOperations();
    Out("edit operations: %s\r\n", listed[edits]);
    hr = DevPropertiesService(&properties);
    if (SUCCEEDED(hr))
        hr = GetObjectNameAndSize(properties, DevConnection.InfoFileId, &name, &stated);
    if (SUCCEEDED(hr) && name == NULL)
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = MtpHandleOf(DevConnection.InfoFileId, name, &handle);
    if (SUCCEEDED(hr))
        Out("settings file handle: 0x%lX, checked by its name\r\n", handle);
    else
        Out("settings file handle: none: %s\r\n", HrText(hr));
    // A settings file is far below 4 GiB: its sizes print as 32-bit numbers.
    HRESULT sized = handle != 0 ? MtpObjectSize(handle, &held) : E_FAIL;
    char wpd[16] = "-", device[16];
    if (stated != DEV_SIZE_UNKNOWN)
        wsprintfA(wpd, "%lu", (DWORD)stated);
    if (SUCCEEDED(sized))
        wsprintfA(device, "%lu", (DWORD)held);
    Out("settings file size: WPD %s, device %s\r\n", wpd, SUCCEEDED(sized) ? device : HrText(sized));
    Out("a save would take: %s\r\n", handle == 0 || edits == MTP_EDIT_NOT_LISTED ? "replace"
                                     : edits == MTP_EDIT_LISTED              ? "in place"
                                                                              : "in place, if the phone takes the operations it does not list");
    CoTaskMemFree(name);
}
