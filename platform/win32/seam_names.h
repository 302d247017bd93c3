// Force-included in every file of the Windows build. <windows.h> maps many
// Win32 names to their A or W form by macro; several seam functions share
// those names (platform::GetComputerName, profile::WritePrivateProfileString)
// and would be renamed in some files and not in others, depending on include
// order; _SiteManage::ExitWindows would not compile at all. Including it here
// first, then dropping those macros, gives every file the names as written.
// Win32 calls in platform/win32/ use the explicit A/W names.
#pragma once

#if defined(_WIN32) && defined(__cplusplus)
// Winsock 2 before <windows.h>, which would bring in the old Winsock otherwise.
#include <winsock2.h>
#include <windows.h>

#undef GetComputerName
#undef GetPrivateProfileString
#undef WritePrivateProfileString
#undef WritePrivateProfileSection
#undef GetPrivateProfileSection
#undef CopyFile
#undef MoveFile
#undef DeleteFile
#undef CreateDirectory
#undef RemoveDirectory
#undef FindFirstFile
#undef GetTempPath
#undef GetEnvironmentVariable
#undef SetEnvironmentVariable
#undef CreateProcess
#undef InternetOpen
#undef InternetConnect
#undef InternetOpenUrl
#undef HttpOpenRequest
#undef HttpSendRequest
#undef LookupPrivilegeValue
#undef GetUserName
#undef SendMessage
#undef GetObject
#undef GetModuleFileName
// A method of _SiteManage; <winuser.h> defines it as a function-like macro.
#undef ExitWindows
#endif
