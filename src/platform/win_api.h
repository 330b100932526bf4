// <windows.h> for the code that calls Win32, without the two macros that
// would rename Env's own CopyFile and DeleteFile (to CopyFileA, DeleteFileA)
// wherever both are seen. Windows only.
#ifndef LUMBRA_PLATFORM_WIN_API_H_
#define LUMBRA_PLATFORM_WIN_API_H_

#include <windows.h>

#undef CopyFile
#undef DeleteFile

#endif  // LUMBRA_PLATFORM_WIN_API_H_
