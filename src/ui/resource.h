/* Ids of the dialog templates and their controls. Plain numbers: read by the
   resource compiler, the dialogs and the portable dialog logic. */
#ifndef LUMORA_UI_RESOURCE_H
#define LUMORA_UI_RESOURCE_H

/* Templates */
#define IDD_LUMORA 1000
#define IDD_SETTINGS 1001
#define IDD_FEED 1003
#define IDD_CACHE 1023

/* Main dialog */
#define IDC_ENABLED 1000
#define IDC_FEEDLIST 1003
#define IDC_SETTINGS 1002
#define IDC_FOLDER_LABEL 1021
#define IDC_FOLDER 1032
#define IDC_BROWSE 1033
#define IDC_LOCALCACHE 1062
#define IDC_ADD 1063
#define IDC_EDIT 1064
#define IDC_DELETE 1065
#define IDC_APIKEY 1126
#define IDC_HELPBUTTON 3

/* Feed editor */
#define IDC_CHECK 1036
#define IDC_SEARCH 1110
#define IDC_COLLECTION 1111
#define IDC_QUERY 1112
#define IDC_GENERAL 1113
#define IDC_ANIME 1114
#define IDC_PEOPLE 1115
#define IDC_SFW 1116
#define IDC_SKETCHY 1117
#define IDC_NSFW 1118
#define IDC_SORTING 1119
#define IDC_TOPRANGE 1120
#define IDC_ATLEAST 1121
#define IDC_RATIOS 1122
#define IDC_USERNAME 1123
#define IDC_COLLLIST 1124
#define IDC_LOAD 1125

/* Settings dialog */
#define IDC_VPROP_DESCR 1036
#define IDC_VPROP_TITLE 1039
#define IDC_CACHESIZE 1056

/* Local Cache dialog */
#define IDC_CACHELIST 1052
#define IDC_CLEAN 1059

/* The wait while Check or Load asks the service */
#define IDD_WAIT 1030
#define IDC_WAIT_TEXT 1131
#define IDC_WAIT_PROGRESS 1132

#endif
