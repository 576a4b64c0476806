// The content types a phone gives its files, decided, as its media scanner does, by the
// name's extension alone.
#include <string.h>
#include "devsim_internal.h"

const GUID DEVSIM_CONTENT_TYPE_AUDIO = {0x4AD2C85E, 0x5E2D, 0x45E5, {0x88, 0x64, 0x4F, 0x22, 0x9E, 0x3C, 0x6C, 0xF0}};
const GUID DEVSIM_CONTENT_TYPE_VIDEO = {0x9261B03C, 0x3D78, 0x4519, {0x85, 0xE3, 0x02, 0xC5, 0xE1, 0xF5, 0x0B, 0xB9}};
const GUID DEVSIM_CONTENT_TYPE_GENERIC_FILE = {0x0085E0A6, 0x8D34, 0x45D7, {0xBC, 0x5C, 0x44, 0x7E, 0x59, 0xC7, 0x3D, 0x48}};

namespace {
struct TypedExtensions {
    const GUID *type;
    const char *const *extensions;   // lower case, with the dot; null-terminated
};
const char *const AudioExtensions[] = {".mp3", ".m4a", ".aac", ".flac", ".ogg", ".opus", ".wav", nullptr};
const char *const VideoExtensions[] = {".mp4", ".mkv", ".webm", ".3gp", ".avi", ".mov", nullptr};
const char *const ImageExtensions[] = {".jpg", ".jpeg", ".png", ".gif", ".bmp", ".webp", ".heic", nullptr};
const char *const GenericExtensions[] = {".pdf", ".txt", ".zip", ".apk", ".doc", ".docx", ".odt", nullptr};
const TypedExtensions Table[] = {
    {&DEVSIM_CONTENT_TYPE_AUDIO, AudioExtensions},
    {&DEVSIM_CONTENT_TYPE_VIDEO, VideoExtensions},
    {&WPD_CONTENT_TYPE_IMAGE, ImageExtensions},
    {&DEVSIM_CONTENT_TYPE_GENERIC_FILE, GenericExtensions},
};
}  // namespace

const GUID *DevsimContentTypeFor(const wchar_t *name)
{
    const wchar_t *dot = name ? wcsrchr(name, L'.') : nullptr;
    if (!dot) return &WPD_CONTENT_TYPE_UNSPECIFIED;
    // Folded to narrow lower case; anything outside ASCII cannot match and ends the search.
    char extension[8];
    size_t n = 0;
    for (const wchar_t *c = dot; *c; c++) {
        if (*c >= 128 || n + 1 == sizeof extension) return &WPD_CONTENT_TYPE_UNSPECIFIED;
        extension[n++] = (*c >= L'A' && *c <= L'Z') ? (char)(*c - L'A' + 'a') : (char)*c;
    }
    extension[n] = '\0';
    for (const TypedExtensions &entry : Table)
        for (const char *const *e = entry.extensions; *e; e++)
            if (strcmp(*e, extension) == 0) return entry.type;
    return &WPD_CONTENT_TYPE_UNSPECIFIED;
}
