// The keyboard lighting window's model: the preview's pacing and brightness, the key
// picture's selection, and the colour action reaching the right colour on a keyboard.
#include <gtest/gtest.h>

#include <mutex>

#include "present/keyboard_lighting_view.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

// Three keys in a row (A, B, Esc) with a gap between B and Esc.
KeyboardLayout ThreeKeyLayout() {
    KeyboardLayout layout;
    auto key = [](const char* name, int usage, int left) {
        KeyboardKey k;
        k.name = name;
        k.usage = usage;
        k.rect = {left, 10, left + 30, 40};
        return k;
    };
    layout.keys = {key("A", 0x04, 0), key("B", 0x05, 40), key("Esc", 0x29, 120)};
    return layout;
}

// A frame stays the same for the whole of one animation step and changes with the next.
TEST(KeyboardPreview, EachEffectStepsAtItsSpeed) {
    const KeyPicture picture(ThreeKeyLayout());
    struct Row {
        int effect;
        int speed;
        int stepMs;
    };
    const Row rows[] = {{1, 0, 120}, {1, 2, 100}, {1, 4, 80},   {12, 3, 90}, {3, 0, 200},
                        {3, 1, 180}, {3, 4, 120}, {11, 2, 160}, {2, 4, 0},   {13, 0, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "effect " << r.effect << " speed " << r.speed);
        EXPECT_EQ(PreviewStepMs(r.effect, r.speed), r.stepMs);
        KeyboardLightingState state{.effect = r.effect, .speed = r.speed, .brightness = 4};
        state.colour1 = state.colour2 = {0x20, 0x80, 0xFF};
        state.keys = {{0x04, {1, 2, 3, true}}};
        test::FakeClock clock;
        const auto first = PreviewFrame(state, picture.Keys(), clock.TotalMs());
        // Breathing starts dark; its first step to compare with is one in.
        clock.SleepMs(r.stepMs == 0 ? 5000 : r.stepMs - 1);
        EXPECT_EQ(PreviewFrame(state, picture.Keys(), clock.TotalMs()), first);
        if (r.stepMs == 0) continue;
        clock.SleepMs(1);
        EXPECT_NE(PreviewFrame(state, picture.Keys(), clock.TotalMs()), first);
    }
}

// Every colour shows at brightness / 6; the custom effect shows each key's own colour (a
// key never read stays dark), at any time.
TEST(KeyboardPreview, ColoursScaleWithBrightnessAndCustomShowsTheKeys) {
    const KeyPicture picture(ThreeKeyLayout());
    const Rgb k{0xFF, 0x60, 0x30}, none{};
    const struct {
        int effect, brightness;
        std::vector<Rgb> want;
    } rows[] = {{2, 0, {none, none, none}},
                {2, 1, std::vector<Rgb>(3, {42, 16, 8})},
                {2, 2, std::vector<Rgb>(3, {85, 32, 16})},
                {2, 3, std::vector<Rgb>(3, {127, 48, 24})},
                {2, 4, std::vector<Rgb>(3, {170, 64, 32})},
                {13, 3, {{127, 48, 24}, none, {0x09, 0x1A, 0x2B}}},
                {13, 4, {{170, 64, 32}, none, {0x0C, 0x22, 0x39}}}};
    for (const auto& r : rows) {
        KeyboardLightingState state{.effect = r.effect, .brightness = r.brightness, .colour1 = k};
        state.keys = {{0x04, {k.red, k.green, k.blue, true}}, {0x29, {0x12, 0x34, 0x56, true}}};
        for (int64_t at : {0, 90, 12345}) {
            EXPECT_EQ(PreviewFrame(state, picture.Keys(), at), r.want)
                << "effect " << r.effect << " brightness " << r.brightness;
        }
    }
}

TEST(KeyPictureSelection, ClicksToggleAndRightClickClears) {
    struct Click {
        int x;
        PictureButton button;
        bool changes;
    };
    struct Row {
        const char* name;
        std::vector<Click> clicks;
        std::vector<uint8_t> selected;
    };
    const auto L = PictureButton::Left;
    const auto R = PictureButton::Right;
    const Row rows[] = {
        {"one key", {{5, L, true}}, {0x04}},
        {"two keys, picture order", {{130, L, true}, {5, L, true}}, {0x04, 0x29}},
        {"same key twice", {{5, L, true}, {29, L, true}}, {}},
        {"the gap selects nothing", {{90, L, false}, {30, L, false}}, {}},
        {"right click clears", {{5, L, true}, {45, L, true}, {90, R, true}}, {}},
        {"right click on nothing selected", {{45, R, false}}, {}},
    };
    for (const Row& r : rows) {
        KeyPicture picture(ThreeKeyLayout());
        for (const Click& c : r.clicks) {
            EXPECT_EQ(picture.Click(c.x, 20, c.button), c.changes) << r.name << " at " << c.x;
        }
        EXPECT_EQ(picture.SelectedKeys(), r.selected) << r.name;
    }
}

// "Colour" lands where the effect takes it and nowhere else; the keyboard shows the outcome.
TEST(KeyboardActions, ColourGoesWhereTheEffectTakesIt) {
    const Rgb picked{0x11, 0x22, 0x33};
    enum Lands { Colour1, Colour2, Keys, Nowhere };
    struct Row {
        int effect;
        std::vector<uint8_t> selected;
        Lands lands;
    };
    const Row rows[] = {
        {kStaticKeyboardEffect, {0x04}, Colour1},
        {10, {0x04}, Colour2},
        {kCustomKeyboardEffect, {0x04, 0x1A}, Keys},
        {kCustomKeyboardEffect, {}, Nowhere},  // no key selected: refused
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "effect " << r.effect);
        test::TempFolder folder;
        test::FakeClock clock;
        auto hub =
            DeviceHub::Open({.simulate = "mx28", .userDataFolder = folder.path()}, clock).value();
        std::mutex m;
        Status last;  // guarded by m
        hub->SetListener({.finished = [&](HubOperation, const Status& s) {
            std::lock_guard lock(m);
            last = s;
        }});
        hub->Refresh();
        hub->ChangeKeyboard(HubOperation::Lighting, keyboard_actions::ChooseEffect(r.effect));
        hub->ChangeKeyboard(HubOperation::Lighting,
                            keyboard_actions::ApplyColour(picked, r.selected));
        hub->WaitIdle();
        std::lock_guard lock(m);
        EXPECT_EQ(last.ok() ? ErrorKind::Other : last.kind(),
                  r.lands == Nowhere ? ErrorKind::BadInput : ErrorKind::Other);
        const SimKeyboardLighting sim = hub->Simulator()->Device(0).KeyboardLighting();
        auto is = [](const std::array<uint8_t, 4>& c) {
            return c[0] == 0x11 && c[1] == 0x22 && c[2] == 0x33;
        };
        EXPECT_EQ(is(sim.colour1), r.lands == Colour1);
        EXPECT_EQ(is(sim.colour2), r.lands == Colour2);
        EXPECT_EQ(is(sim.keys[0x04]), r.lands == Keys);
        EXPECT_EQ(is(sim.keys[0x1A]), r.lands == Keys);
        EXPECT_FALSE(is(sim.keys[0x05]));
    }
}

}  // namespace
}  // namespace qvm
