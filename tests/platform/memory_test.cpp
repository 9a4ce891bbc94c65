// VirtualAlloc and VirtualFree in the one form the program uses them: whole buffers of fresh,
// zeroed, page-aligned memory, given back whole; the forms it never uses are refused alike.
#include <string.h>

#include "support.h"

namespace {

TEST(Memory, BuffersAreZeroedAlignedAndGivenBackWhole) {
  const SIZE_T sizes[] = {1, 4095, 4096, 4097, (2u << 20) - 1, 2u << 20, (33u << 20) + 12345};
  for (SIZE_T size : sizes) {
    SCOPED_TRACE(size);
    BYTE* buffer = (BYTE*)VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(buffer, nullptr) << GetLastError();
    EXPECT_EQ((uintptr_t)buffer % 4096, 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[size / 2], 0);
    EXPECT_EQ(buffer[size - 1], 0);
    memset(buffer, 0xA5, size);
    EXPECT_EQ(buffer[size - 1], 0xA5);
    EXPECT_TRUE(VirtualFree(buffer, 0, MEM_RELEASE)) << GetLastError();
  }
}

TEST(Memory, FormsTheProgramNeverUsesAreRefused) {
  SetLastError(0);
  EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  BYTE* buffer = (BYTE*)VirtualAlloc(nullptr, 100, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(buffer, nullptr);
  SetLastError(0);
  EXPECT_FALSE(VirtualFree(buffer, 100, MEM_RELEASE));  // a size with MEM_RELEASE
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(VirtualFree(nullptr, 0, MEM_RELEASE));
  buffer[99] = 1;  // still ours
  EXPECT_TRUE(VirtualFree(buffer, 0, MEM_RELEASE));
}

}  // namespace
