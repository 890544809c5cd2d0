// Windows test builds: the POSIX environment and temporary-folder calls the test fixtures
// use, with the meaning they need for the Win32 backend.
#pragma once
#ifdef _WIN32

// localtime_r and gmtime_r from the C library's <time.h>.
#ifndef _POSIX_THREAD_SAFE_FUNCTIONS
#define _POSIX_THREAD_SAFE_FUNCTIONS 200112L
#endif

extern "C" {
// Besides the variable, "APPDATA" also points the user's AppData shell folder at the value
// (SHGetFolderPathW reads it afresh on every call); unsetting it restores the folder.
int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
// Replaces the trailing "XXXXXX" and creates the folder; null on failure.
char* mkdtemp(char* pattern);
}

#endif
