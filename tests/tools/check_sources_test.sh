#!/usr/bin/env bash
# The source check finds what it is for: a bare control id in a switch and in
# a call, a function over 80 lines (also one defined in a class body) and a
# wait of a literal time; it passes the named, short versions of the same
# code, and ids in comments or in other folders; a question asked or worded
# in the engine (convert/). The length and wait rules
# cover every folder of the program and its tools; tests/ only the length.
set -euo pipefail
tool="$1"
source_root="$2"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$dir/app" "$dir/ui" "$dir/convert" "$dir/cli" "$dir/video"
cp "$source_root/ui/control_ids.h" "$dir/ui/"

# Named ids, numbers that are no ids, and an id in a comment: clean.
cat > "$dir/ui/good.cpp" <<'CODE'
// Control(520) is the brightness slider.
void Good(int id) {
    switch (id) {
        case control::kBrightnessSlider: Control(control::kBrightnessSlider); break;
        case 7: SetPeriod(150); break;
    }
    ResetSlider(control::kBrightnessSlider, 127);
    QRect(815, 316, 90, 18);
    std::this_thread::sleep_for(kPressed);  // sleep_for(100) in a comment
    QTimer::singleShot(kLoadPressedMs, this, [] {});
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
CODE
# Short member functions and a nested type in a class body: clean.
cat > "$dir/video/types.h" <<'CODE'
namespace tessaly {
class Small {
public:
    int Get() const { return x_; }
    void Set(int x) {
        x_ = x;
    }
private:
    struct Inner {
        int y = 0;
    };
    int x_ = 0;
};
}  // namespace tessaly
CODE
# A bare id in another folder is not this check's business, nor a question
# outside the engine.
printf 'void F() { Control(520); }\n' > "$dir/video/other.cpp"
printf 'bool A() { return AskOkCancel("Go on?"); }\n' > "$dir/ui/asks.cpp"
out=$("$tool" "$dir") || fail "clean sources refused: $out"

# Each fault on its own line.
cat > "$dir/ui/bad.cpp" <<'CODE'
void Bad(int id) {
    switch (id) {
        case 582: break;
    }
    ResetSlider(520, 127);
    SetLabelText(303, "path");
    AddShortcut(QKeySequence("F1"), 110);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    QTimer::singleShot(300, button, [] {});
    std::this_thread::sleep_for(20ms);
    ui.YieldStep(32);
}
CODE
{
    echo "void Long() {"
    for i in $(seq 1 80); do echo "    Step($i);"; done
    echo "}"
} > "$dir/app/long.cpp"
# A member function defined in its class body, in a folder of the engine.
{
    printf 'class Member {\npublic:\n    void Long() {\n'
    for i in $(seq 1 80); do echo "        Step($i);"; done
    printf '    }\n};\n'
} > "$dir/convert/member.h"
printf 'void Q() {\n    ui.AskOkCancel("x", kText);\n    Say("Save it ?");\n}\n' > "$dir/convert/asks.cpp"
if out=$("$tool" "$dir" 2>&1); then fail "faults passed: $out"; fi
for want in "ui/bad.cpp:3: bare control id in a switch" "ui/bad.cpp:5: bare control id in a call" \
            "ui/bad.cpp:6: bare control id in a call" "ui/bad.cpp:7: bare control id in a call" \
            "ui/bad.cpp:8: unnamed wait" "ui/bad.cpp:9: unnamed wait" "ui/bad.cpp:10: unnamed wait" \
            "ui/bad.cpp:11: unnamed wait" "app/long.cpp:1: function of 82 lines" \
            "convert/member.h:3: function of 82 lines" "convert/asks.cpp:2: a question asked by the engine" \
            "convert/asks.cpp:3: a question text in the engine"; do
    grep -qF "$want" <<< "$out" || fail "missing '$want' in: $out"
done
grep -qE "video/other.cpp|ui/asks.cpp" <<< "$out" && fail "looked outside its folders: $out"

# The length and wait rules in each further folder; tests/ gets the length rule.
long_function() {
    echo "void Long$1() {"
    for i in $(seq 1 80); do echo "    Step($i);"; done
    echo "}"
}
scopes=(cli video playback output transform fuzz bench tools)
for folder in "${scopes[@]}" tests; do
    mkdir -p "$dir/$folder"
    long_function "$folder" > "$dir/$folder/long.cpp"
    printf 'void Poll() {\n    usleep(5000);\n}\n' > "$dir/$folder/poll.cpp"
done
if out=$("$tool" "$dir" 2>&1); then fail "faults in the further folders passed: $out"; fi
for folder in "${scopes[@]}"; do
    for want in "$folder/long.cpp:1: function of 82 lines" "$folder/poll.cpp:2: unnamed wait"; do
        grep -qF "$want" <<< "$out" || fail "missing '$want' in: $out"
    done
done
grep -qF "tests/long.cpp:1: function of 82 lines" <<< "$out" || fail "missing the long test function in: $out"
grep -q "^tests/poll.cpp" <<< "$out" && fail "waits in tests/ are theirs: $out"
for folder in "${scopes[@]}" tests; do rm "$dir/$folder/long.cpp" "$dir/$folder/poll.cpp"; done

# 80 lines is still allowed.
sed -i '/Step(79);/d; /Step(80);/d' "$dir/app/long.cpp" "$dir/convert/member.h"
rm "$dir/ui/bad.cpp" "$dir/convert/asks.cpp"
out=$("$tool" "$dir") || fail "an 80-line function counted as too long: $out"
echo "check-sources finds bare ids, long functions, unnamed waits and questions in the engine"
