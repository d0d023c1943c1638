// Two cameras filming one scene (noise through 300-pixel fisheye circles on
// `canvas`, at 20,10 and `rightAt`), the right one turned 8 degrees and
// started 7 frames earlier (and rolled `roll` degrees); both hear the scene (seed=1), the left `leftSound`
// ("seed=1", another seed, or "" for none). 2 s at 25 frames per second.
#pragma once

#include <string>

#include "tests/capture_output.h"

namespace tessaly::testing {

inline std::string PairClipsCommand(const std::string& left, const std::string& right, const std::string& leftSound,
                                    const std::string& canvas = "340x320", const std::string& rightAt = "10:15", double roll = 0) {
    const std::string fish = "v360=input=e:output=fisheye:h_fov=180:v_fov=180:w=300:h=300",
                      sound = leftSound.empty() ? "" : " -f lavfi -i anoisesrc=d=2:r=48000:" + leftSound;
    return "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i color=gray:size=600x300:rate=25:duration=2 "
           "-f lavfi -i anoisesrc=d=2:r=48000:seed=1" + sound + " -filter_complex \"[0:v]noise=alls=100:allf=t+u,gblur=sigma=4,eq=contrast=3,split[a][b];"
           "color=black:size=300x300:rate=25:duration=2,format=gray,geq=lum='if(lte(hypot(X-149.5,Y-149.5),150),255,0)',split[m1][m2];"
           "color=black:size=" + canvas + ":rate=25:duration=2,split[g1][g2];[a]" + fish + ",format=rgba[l0];[l0][m1]alphamerge[l];[b]" + fish +
           ":yaw=8" + (roll != 0 ? ":roll=" + std::to_string(roll) : "") + ",format=rgba[r0];[r0][m2]alphamerge[r];[g1][l]overlay=20:10,trim=start_frame=7,"
           "setpts=PTS-STARTPTS,format=yuv420p[L];[g2][r]overlay=" + rightAt + ",format=yuv420p[R]" +
           (leftSound.empty() ? "\" -map [L]" : ";[2:a]atrim=start=0.28,asetpts=PTS-STARTPTS[la]\" -map [L] -map [la]") +
           " -c:v libx264 -preset ultrafast -crf 8 " + ShellQuote(left) +
           " -map [R] -map 1:a -c:v libx264 -preset ultrafast -crf 8 " + ShellQuote(right);
}

}  // namespace tessaly::testing
