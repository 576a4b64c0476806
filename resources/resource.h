// Resource ids shared by the program and tessaly.rc.
#ifndef TESSALY_RESOURCE_H
#define TESSALY_RESOURCE_H

#define IDC_NAME        100   // name field of the dialog TESSALY
#define IDC_FOLDERS     101   // count of folders looked at, in the dialog SEARCH
#define IDS_CAPTION     200   // caption of every message box
#define IDS_NOT_FOUND   201   // no settings file anywhere
#define IDS_NOT_SAVED   202   // writing the name failed; the settings file is as it was
#define IDS_NOT_SAVED_KEPT 203   // writing the name failed; a local copy holds the settings (%s)
#define IDS_STORAGE_HIDDEN 204   // no settings file, and a handheld opened but showed no storage
#define IDS_NOT_SAVED_AS_IT_WAS 205   // writing the name failed; the file as it was, a local copy (%s)
#define IDS_APP_FOLDER_UNREADABLE 206   // no settings file, and a handheld's app folder could not be read
#define IDS_CANNOT_READ 207   // the dialog could not read the settings file
#define IDS_ALREADY_RUNNING 208   // a start with a name waited in vain for the running one to end
#define IDS_PHOTOS_ONLY 209   // no settings file, and a handheld shares only its photos

#endif
