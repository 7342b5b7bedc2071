#pragma once
// Every resource and control id of the stub, with the numbers the program and its
// test driver use. Shared by the .rc files and the C++ code.

// Dialogs.
#define IDD_INTRO 101        // generic intro: decrypt, download, order
#define IDD_DECRYPT 103      // target folder, password, progress
#define IDD_INTRO_BLOCK 105  // intro with the builder's picture, text and link
#define IDD_DISCLAIMER 111   // disclaimer that must be accepted first

// The window class of the hyperlink control 1009.
#define QEF_LINK_CLASS "_MyHyperLinkClass_"

// Controls of the intro dialogs (101 and 105).
#define IDC_DOWNLOAD 104
#define IDC_ORDER 105
#define IDC_DECRYPT_NOW 106
#define IDC_LINK 1009
#define IDC_PICTURE 1010
#define IDC_PICTURE_FRAME 1011
#define IDC_INFO 1013
#define IDC_PRODUCT 1017

// Controls of the decrypt dialog (103).
#define IDC_TARGET 107
#define IDC_PASSWORD 108
#define IDC_BROWSE 109
#define IDC_DECRYPT 110
#define IDC_PROGRESS 1014

// Controls of the disclaimer dialog (111).
#define IDC_DISCLAIMER 1018

// Icon, bitmap and cursor.
#define IDI_PROGRAM 111
#define IDB_BROWSE 110
#define IDC_LINK_CURSOR 108  // cursor group shown over the hyperlink

// The project's web site, the one place it is written: the footers, the hyperlink's
// default text and the pages of strings 5, 6, 7 and 12 are made from it.
#define QEF_SITE_HOST "qef.example.com"
#define QEF_SITE "https://" QEF_SITE_HOST "/"

// String table.
#define IDS_CAPTION 1
#define IDS_SUCCESS 2
#define IDS_ERROR_CODE 3  // takes the result code through %i
#define IDS_WRONG_PASSWORD 4
#define IDS_URL_SUITE 5       // web page of button 104
#define IDS_URL_PRODUCT 6     // web page of button 1017
#define IDS_URL_SUITE_SHOP 7  // web page of button 105
#define IDS_BROWSE_TITLE 8
#define IDS_BAD_TARGET 9
#define IDS_TEMP_FILE_FAILED 10
#define IDS_PREPARE_FAILED 11
#define IDS_URL_PRODUCT_SHOP 12  // kept for the product's shop; the program does not open it
#define IDS_NO_DATA 13
#define IDS_OTHER_SPELLING 14  // takes through %i how many files a later one replaced under another spelling
