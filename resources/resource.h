// Identifiers of the driver library's resources and the version numbers its version resource
// carries. Read by the resource script, the Linux resource table and the driver.
#pragma once

#define IDD_CONTROL_PANEL 101
#define IDB_LOGO_SMALL 102
#define IDB_LOGO_LARGE 104

#define IDC_METRICS 1004
#define IDC_MODELESS 1013
#define IDC_AUTO_OPEN 1015
#define IDC_VERSION 1016
#define IDC_BUFFER_SIZE 1018
#define IDC_BUFFER_SIZE_LABEL 1021
#define IDC_STATIC (-1)

#define KX7_VERSION_MAJOR 1
#define KX7_VERSION_MINOR 1
#define KX7_VERSION_PATCH 0
#define KX7_VERSION_BUILD 0
#define KX7_VERSION_TEXT "1.1.0.0"
#define KX7_PRODUCT_NAME "NORVA KX-7 ASIO"
#define KX7_COMPANY_NAME "Norva"
#define KX7_FILE_NAME "NORVA-KX-7-ASIO-x64.dll"
