#include "platform/processor_features.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "platform/memory_probe.h"
#include "platform/simd_constants.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class OptionsGuard {
public:
  OptionsGuard() : saved_(Options), mmx_(MmxEnabled), sse_(SseEnabled), sse2_(Sse2Enabled) {}
  ~OptionsGuard() {
    Options = saved_;
    MmxEnabled = mmx_;
    SseEnabled = sse_;
    Sse2Enabled = sse2_;
  }

private:
  TProgramOptions saved_;
  bool mmx_, sse_, sse2_;
};

TEST(ProcessorFeatures, SettingOffTurnsEverySwitchOff) {
  OptionsGuard guard;
  DetectCpuFeatures();
  Options.Simd = 0;
  ApplySimdSetting();
  EXPECT_FALSE(MmxEnabled);
  EXPECT_FALSE(SseEnabled);
  EXPECT_FALSE(Sse2Enabled);
  Options.Simd = 1;
  ApplySimdSetting();
  EXPECT_EQ(MmxEnabled, HasMmx);
  EXPECT_EQ(SseEnabled, HasSse);
  EXPECT_EQ(Sse2Enabled, HasSse2);
#if defined(__x86_64__)
  EXPECT_TRUE(HasSse2);  // part of every x86-64 processor
#endif
}

TEST(ProcessorFeatures, ProcessorCountIsAtLeastOne) {
  EXPECT_GE(GetProcessorCount(), 1);
  EXPECT_EQ(ProcessorCount, GetProcessorCount());
}

TEST(MemoryProbe, ReadsMemAvailableAsSixtyFourBitBytes) {
  const char* text =
      "MemTotal:       32594028 kB\n"
      "MemFree:         1234567 kB\n"
      "MemAvailable:   24266336 kB\n"
      "Buffers:          123456 kB\n";
  EXPECT_EQ(ParseMemAvailable(text), uint64_t(24266336) * 1024);
  // 8 TiB: far beyond 32 bits.
  EXPECT_EQ(ParseMemAvailable("MemAvailable: 8589934592 kB\n"), uint64_t(8589934592) * 1024);
  EXPECT_FALSE(ParseMemAvailable("MemTotal: 5 kB\n").has_value());
  EXPECT_FALSE(ParseMemAvailable("MemAvailable: lots kB\n").has_value());
  EXPECT_FALSE(ParseMemAvailable("MemAvailable: 12 MB\n").has_value());
  EXPECT_FALSE(ParseMemAvailable("").has_value());
  // The process's own figures come from /proc/self/status in the same form.
  const char* status = "Name:\tastrelon\nVmSize:\t  901120 kB\nVmRSS:\t  123456 kB\n";
  EXPECT_EQ(ParseProcBytes(status, "VmRSS:"), uint64_t(123456) * 1024);
  EXPECT_EQ(ParseProcBytes(status, "VmSize:"), uint64_t(901120) * 1024);
  EXPECT_FALSE(ParseProcBytes(status, "").has_value());
  const TProcessMemory own = ReadProcessMemory();
  EXPECT_GT(own.Resident, 0u);
  EXPECT_GE(own.Mapped, own.Resident);
  EXPECT_GE(own.Total, own.Available);
}

TEST(MemoryProbe, SlotNeedsTwentyOrTwentyEightBytesPerPixel) {
  EXPECT_EQ(MemoryNeededForPixels(10'000'000, true), uint64_t(280'000'000));
  EXPECT_EQ(MemoryNeededForPixels(10'000'000, false), uint64_t(200'000'000));
  EXPECT_EQ(MemoryNeededForPixels(uint64_t(1) << 62, true), UINT64_MAX);  // no overflow
  EXPECT_GT(AvailableMemory(), uint64_t(0));
}

class MemoryForSlot : public test::StoreTest {};

TEST_F(MemoryForSlot, SmallSlotFits) {
  Store.InUse[1] = 1;
  Store.Image[1].Width = 100;
  Store.Image[1].Height = 100;
  Store.Image[1].AllocatePlanes(1);
  EXPECT_TRUE(HasMemoryForSlot(1));
  EXPECT_FALSE(HasMemoryForSlot(99));
}

TEST(SimdConstants, BlockIsAlignedAndHoldsTheConstants) {
  InitSimdConstants();
  EXPECT_EQ(reinterpret_cast<uintptr_t>(SimdConstants.Base()) % 16, 0u);
  EXPECT_EQ(reinterpret_cast<const char*>(SimdConstants.Base()) - reinterpret_cast<const char*>(&SimdConstants.Vector[0]), 128);
  const float expected[] = {-1e9f, 1e18f, -9e8f, 1.0f, 1e25f, -1e25f, -1.0f, 1e-25f};
  for (int n = 0; n < 8; ++n)
    for (uint32_t lane : SimdConstants.Vector[size_t(n)].Lane) EXPECT_EQ(lane, FloatBits(expected[n])) << n;
  EXPECT_EQ(SimdConstants.Vector[8].Lane[3], 0x80000000u);
  EXPECT_EQ(SimdConstants.Vector[9].Lane[0], 0x7FFFFFFFu);
  EXPECT_EQ(SimdConstants.Vector[10].Lane[1], 0u);
  EXPECT_EQ(SimdConstants.Vector[11].Lane[2], FloatBits(10.0f));
  EXPECT_EQ(SimdConstants.Vector[14].Lane[0], FloatBits(0.01f));
}

TEST(SimdConstants, OwnBlocksAreBuiltTheSameWay) {
  std::array<TSimdVector, 12> block{};
  const uint32_t values[] = {1, 2, 3};
  BuildAlignedVectors(values, block);
  EXPECT_EQ(block[2].Lane, (std::array<uint32_t, 4>{3, 3, 3, 3}));
  SetVectorSlot(block, 9, 77);
  PutVectorSlot(block, 88, 10);
  EXPECT_EQ(block[9].Lane[0], 77u);
  EXPECT_EQ(block[10].Lane[3], 88u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&block[8]) % 16, 0u);
}

}  // namespace
}  // namespace astrelon
