#pragma once

// Resource numbers shared by Module_Valmora.rc and the window that loads them.
#define IDR_LOGO_VESTIORA 101
#define IDR_LOGO_DURANEL 102
