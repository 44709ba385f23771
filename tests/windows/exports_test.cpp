// The DLL as its callers see it: the four exports by name and by ordinal, the class operator
// under its decorated name, loading that does nothing, and the two queries.
#include "dll_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

using namespace dll_test;

namespace {

HMODULE library() {
    return static_cast<HMODULE>(codec().library);
}

TEST(Exports, EachBindsByNameAndByItsOrdinal) {
    ASSERT_TRUE(library());
    const struct {
        const char *name;
        WORD ordinal;
    } exports[] = {{"MakeCode", 1}, {"FindLzh", 2}, {"GetMemDat", 3}, {kAssignName, 4}};
    for (const auto &e : exports) {
        const FARPROC byName = ::GetProcAddress(library(), e.name);
        EXPECT_TRUE(byName) << e.name;
        EXPECT_EQ(byName, ::GetProcAddress(library(), MAKEINTRESOURCEA(e.ordinal))) << e.name;
    }
    EXPECT_FALSE(::GetProcAddress(library(), MAKEINTRESOURCEA(5)));
    // Only the plain names: not the compiler's decorated ones, not the entry point.
    for (const char *name :
         {"_MakeCode@24", "MakeCode@24", "DllMain", "_ZN14CHalvet_TolvexaSERKS_"})
        EXPECT_FALSE(::GetProcAddress(library(), name)) << name;
}

// Calls `function` as callers compiled by Microsoft's compiler do, with `self` in ECX (zero for
// a plain function) and one argument on the stack; reports whether the stack pointer was back
// where it was after the call, which is so only when the callee removed its argument
// (__stdcall, __thiscall) and not for a caller-cleans convention.
struct Call {
    uint32_t result;
    bool stackRestored;
};
Call callWithOneArgument(FARPROC function, const void *self, uint32_t argument) {
    uint32_t result, before, after;
    auto ecx = reinterpret_cast<uintptr_t>(self);
    auto edx = argument;
    asm volatile("movl %%esp, %%esi\n\t"
                 "pushl %%edx\n\t"
                 "call *%%ebx\n\t"
                 "movl %%esp, %%edi\n\t"
                 "movl %%esi, %%esp\n\t"
                 : "=a"(result), "=S"(before), "=D"(after), "+c"(ecx), "+d"(edx)
                 : "b"(function)
                 : "memory", "cc");
    return {result, before == after};
}

TEST(Exports, CopyAssignmentCopiesTheByteAndReturnsTheLeftObject) {
    const FARPROC assign = ::GetProcAddress(library(), kAssignName);
    ASSERT_TRUE(assign);
    unsigned char left[2] = {0x11, 0xEE}, right[2] = {0x5A, 0x77};
    const Call call =
        callWithOneArgument(assign, left, uint32_t(reinterpret_cast<uintptr_t>(right)));
    EXPECT_EQ(call.result, uint32_t(reinterpret_cast<uintptr_t>(left)));
    EXPECT_TRUE(call.stackRestored) << "the operator must remove its argument (__thiscall)";
    EXPECT_EQ(left[0], 0x5A);
    EXPECT_EQ(left[1], 0xEE) << "an instance is one byte";
    EXPECT_EQ(right[0], 0x5A);
}

TEST(Exports, GetMemDatRemovesItsArgumentFromTheStack) {
    const FARPROC getMemDat = ::GetProcAddress(library(), "GetMemDat");
    ASSERT_TRUE(getMemDat);
    const Call call = callWithOneArgument(getMemDat, nullptr, 1000);
    EXPECT_EQ(call.result, 0u);
    EXPECT_TRUE(call.stackRestored) << "GetMemDat must remove its argument (__stdcall)";
}

DWORD WINAPI doNothing(void *) {
    return 0;
}

TEST(Exports, LoadingAndUnloadingTouchesNothing) {
    TempFolder empty;
    const CurrentFolder here(empty.path());
    // A second, separate load: the entry point runs again for attach and detach.
    for (int i = 0; i < 3; ++i) {
        HMODULE again = ::LoadLibraryExA((programFolder() + "\\Halvet_Tolvex.dll").c_str(), nullptr,
                                         LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_TRUE(again);
        EXPECT_TRUE(::FreeLibrary(again));
    }
    // Threads starting and ending while it is loaded get the thread notifications.
    HANDLE thread = ::CreateThread(nullptr, 0, doNothing, nullptr, 0, nullptr);
    ASSERT_TRUE(thread);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    EXPECT_TRUE(empty.names().empty());
}

TEST(GetMemDat, FiguresAgreeWithTheSystemsMemoryStatus) {
    const auto figure = codec().getMemDat;
    ASSERT_TRUE(figure);
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ASSERT_TRUE(::GlobalMemoryStatusEx(&status));
    auto clamped = [](DWORDLONG v) { return uint32_t(std::min<DWORDLONG>(v, 0xFFFFFFFFu)); };
    EXPECT_LE(figure(0), 100u);
    EXPECT_EQ(figure(1), clamped(status.ullTotalPhys));
    EXPECT_GT(figure(2), 0u);
    EXPECT_LE(figure(2), figure(1));
    EXPECT_EQ(figure(3), clamped(status.ullTotalPageFile));
    EXPECT_LE(figure(4), figure(3));
    for (uint32_t outside : {5u, 1000u, 0xFFFFFFFFu})
        EXPECT_EQ(figure(outside), 0u) << outside;
}

// FindLzh loads "unlha32" through the system's search, in which SetDllDirectory puts a folder
// of stand-ins; the test program's own folder holds none.
class FindLzh : public ::testing::Test {
  protected:
    static std::string standIn(const char *which) {
        return programFolder() + "\\..\\standin\\" + which;
    }
    uint32_t findLzhWith(const std::string &folder) {
        EXPECT_TRUE(::SetDllDirectoryA(folder.empty() ? nullptr : folder.c_str()));
        const uint32_t version = codec().findLzh();
        ::SetDllDirectoryA(nullptr);
        return version;
    }
    static bool archiverLoaded() { return ::GetModuleHandleA("unlha32.dll") != nullptr; }
};

TEST_F(FindLzh, AbsentLibraryGivesZero) {
    ASSERT_TRUE(codec().findLzh);
    EXPECT_EQ(findLzhWith(""), 0u);
}

TEST_F(FindLzh, PresentLibraryGivesTheLow16BitsOfItsVersionAndIsUnloadedAgain) {
    ASSERT_TRUE(codec().findLzh);
    ASSERT_TRUE(exists(standIn("versioned") + "\\UNLHA32.DLL"));
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(findLzhWith(standIn("versioned")), 0x2345u);
        EXPECT_FALSE(archiverLoaded());
    }
}

TEST_F(FindLzh, LibraryWithoutUnlhaGetVersionGivesZeroAndIsUnloadedAgain) {
    ASSERT_TRUE(codec().findLzh);
    ASSERT_TRUE(exists(standIn("unversioned") + "\\UNLHA32.DLL"));
    EXPECT_EQ(findLzhWith(standIn("unversioned")), 0u);
    EXPECT_FALSE(archiverLoaded());
}

} // namespace
