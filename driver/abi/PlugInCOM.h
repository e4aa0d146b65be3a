#pragma once

// The COM conventions of CFPlugIn (CFPlugInCOM.h) that plug-in interfaces use. Shared by the stand-in build
// and the declaration-only SDK subset; CFUUIDBytes comes from whichever Core Foundation is in use.

typedef SInt32 HRESULT;
typedef UInt32 ULONG;
typedef void* LPVOID;
typedef CFUUIDBytes REFIID;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOTIMPL = HRESULT(0x80000001u);
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80000004u);
constexpr HRESULT E_POINTER = HRESULT(0x80000005u);
constexpr HRESULT E_FAIL = HRESULT(0x80000008u);
