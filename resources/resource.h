// Resource ids shared by the program and tessaly.rc.
#ifndef TESSALY_RESOURCE_H
#define TESSALY_RESOURCE_H

#define IDC_NAME        100   // name field of the dialog TESSALY
#define IDS_CAPTION     200   // caption of every message box
#define IDS_NOT_FOUND   201   // no settings file anywhere

#endif
