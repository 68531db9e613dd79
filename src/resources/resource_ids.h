// Identifiers of the program's resources and menu commands.
#pragma once

#define IDI_VELMORA 101
#define IDD_MAIN 102
#define IDM_MAIN 103
#define IDD_LICENSE 104
#define IDD_CHANGELOG 105
#define IDD_ABOUT 106
#define IDD_PROGRESS 107
#define IDD_PREFERENCES 108

// Controls of the dialogs.
#define IDC_PROGRESS_OVERALL 1002  // the upper bar: the whole job
#define IDC_PROGRESS_ITEM 1003     // the lower bar: the file in hand
#define IDC_LICENSE_TEXT 1002
#define IDC_CHANGELOG_VIEW 1003
#define IDC_PREFERENCES_USER 1004      // preferences.txt, on the right
#define IDC_PREFERENCES_DEFAULTS 1005  // preferences-default.txt, on the left
#define IDC_ABOUT_PICTURE 1081

#define CMD_EXIT 40001
#define CMD_TEXT_FILE_LABEL 40002
#define CMD_DOCUMENTATION 40003
#define CMD_ABOUT 40004
#define CMD_CHANGELOG 40005
#define CMD_VERSION 40006
#define CMD_ONLINE_LABEL 40007
#define CMD_WEBSITE 40008
#define CMD_LICENSE 40009
#define CMD_PREFERENCES 40012
#define CMD_DECOMPRESS_FILE 40016
#define CMD_COMPRESS_FILE 40017
#define CMD_COMPRESS_FOLDER 40018
#define CMD_COMPRESSOR_LABEL 40019
#define CMD_DEFLATE 40020
#define CMD_ZSTANDARD 40021
