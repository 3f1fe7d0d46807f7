// Identifiers of the driver library's resources, and the version and names its version resource
// carries. Read by the resource script, the Linux resource table and the driver.
#pragma once

#include "product/ProductInfo.h"

#define IDD_CONTROL_PANEL 101
#define IDB_LOGO_SMALL 102
#define IDB_LOGO_LARGE 104

#define IDC_METRICS 1004
#define IDC_MODELESS 1013
#define IDC_AUTO_OPEN 1015
#define IDC_VERSION 1016
#define IDC_BUFFER_SIZE 1018
#define IDC_BUFFER_SIZE_LABEL 1021
#define IDC_LAST_EVENT 1022
#define IDC_STATIC (-1)
