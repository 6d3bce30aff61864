// The resource holders: each gives its resource back once, and closing never
// changes the last error a caller is about to read.
#include "test_support.h"
#include "unique_resource.h"
#include "win_handle.h"

#include <gtest/gtest.h>

namespace {

TEST(WinHandle, ResetKeepsTheLastErrorWhetherTheCloseSucceedsOrFails)
{
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.valid());
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(event.reset());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(event.valid());

    // Handed the handle it holds, a holder keeps it open.
    UniqueHandle same(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE raw = same.get();
    EXPECT_TRUE(same.reset(raw));
    EXPECT_EQ(raw, same.get());
    EXPECT_TRUE(SetEvent(raw)) << "still open";

    // A handle value nothing owns: CloseHandle fails with an error of its own,
    // and the holder still leaves the caller's error in place.
    UniqueHkey bogusKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7ff0)));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(bogusKey.reset());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST(WinHandle, EachKindKnowsItsOwnNoneValue)
{
    // FindFirstFile answers INVALID_HANDLE_VALUE, CreateFile too, LoadLibrary null.
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(L"no-such-file-*.none", &found));
    EXPECT_FALSE(search.valid());
    UniqueHandle file;
    EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND,
                      file.reset(CreateFileW(L"no-such-file.none", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
    EXPECT_FALSE(file.valid());
    UniqueModule module;
    EXPECT_LAST_ERROR(ERROR_MOD_NOT_FOUND, module.reset(LoadLibraryW(L"no-such-library.dll")));
    EXPECT_FALSE(module.valid());
    EXPECT_TRUE(module.reset());  // nothing held: nothing to give back
}

TEST(WinHandle, MovingHandsOverOwnership)
{
    UniqueHandle first(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE raw = first.get();
    UniqueHandle second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(raw, second.get());
    HANDLE released = second.release();
    EXPECT_FALSE(second.valid());
    UniqueHandle again(released);  // given back exactly once, here
}

TEST(WinHandle, AFileHolderReportsWhetherTheStreamFlushed)
{
    UniqueFile file(std::fopen("holder.txt", "wb"));
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(3u, std::fwrite("abc", 1, 3, file.get()));
    EXPECT_TRUE(file.reset());
    EXPECT_EQ("abc", tzrtest::ReadFileBytes(L"holder.txt"));
    DeleteFileW(L"holder.txt");
}

TEST(WinHandle, ComApartmentIsLeftOnlyWhenItWasEntered)
{
    {
        ComApartment outer;
        ASSERT_TRUE(SUCCEEDED(outer.Enter(COINIT_MULTITHREADED)));
        {
            // A second, incompatible model is refused: that scope must not
            // undo the outer initialisation.
            ComApartment inner;
            EXPECT_EQ(RPC_E_CHANGED_MODE, inner.Enter(COINIT_APARTMENTTHREADED));
            EXPECT_FALSE(inner.Entered());
        }
        // Still initialised: a further compatible Enter only counts up.
        ComApartment again;
        EXPECT_EQ(S_FALSE, again.Enter(COINIT_MULTITHREADED));
    }
    // Every scope gave back what it took: a fresh initialisation is S_OK.
    ComApartment fresh;
    EXPECT_EQ(S_OK, fresh.Enter(COINIT_APARTMENTTHREADED));
}

}  // namespace
