// The per-frame calls allocate nothing: counted with a replaced global
// operator new while frames are processed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "tests/transform/test_frames.h"
#include "transform/frame_pipeline.h"

namespace {
std::atomic<int> allocations{0};
std::atomic<bool> counting{false};

void* Allocate(std::size_t n, std::size_t align) {
    if (counting.load()) ++allocations;
    void* p = align > alignof(std::max_align_t) ? std::aligned_alloc(align, (n + align - 1) / align * align)
                                                : std::malloc(n ? n : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

// Out of line: where GCC inlines a replaced operator delete next to a
// `new` it warns about free() on the memory of operator new, which here is
// the same allocator.
[[gnu::noinline]] void Release(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t n) { return Allocate(n, 0); }
void* operator new[](std::size_t n) { return Allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) { return Allocate(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return Allocate(n, static_cast<std::size_t>(a)); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }

namespace tessaly {
namespace {

TEST(FramePipeline, FramesAllocateNothing) {
    const int w = 320, h = 240;
    TransformSettings s;
    s.noiseOn = s.brightnessOn = s.contrastOn = s.cpuOn = s.noise = 1;
    s.brightness = 130;
    s.contrast = 140;
    s.cpu = 99;
    s.sharpen = 2;
    const std::vector<uint8_t> frame = testing::MakePattern(w, h, 4);
    for (int aspect : {0, 1}) {
        s.aspect = aspect;
        FramePipeline p(2);
        ASSERT_EQ(p.Allocate(w, h), TransformStatus::kOk);
        ASSERT_TRUE(p.BuildGeometry(s.cut).Ok());
        p.PreviewPass(s, {}, {});
        allocations = 0;
        counting = true;
        for (int i = 0; i < 3; ++i) p.ConvertFrame(frame.data(), frame.size(), s, {}, {});
        p.PreviewPass(s, {}, {});
        p.ConvertFrame(frame.data(), frame.size(), s, {}, {});
        counting = false;
        EXPECT_EQ(allocations.load(), 0) << "aspect " << aspect;
    }
}

}  // namespace
}  // namespace tessaly
