// The ids of the desktop program's controls, menu items and commands. A
// menu item and the control it mirrors share one id (Load is both the image
// button and "Load Fisheye Movie"); a click, a menu item and an accelerator
// all arrive as the same command. The numbers are the windows' own ids: the
// object name of a control is "id_" + its number.
#pragma once

namespace tessaly::control {

// The main window.
enum ControlId : int {
    kNone = 0,

    // Image buttons and the commands they share with the menus.
    kLoad = 100,
    kPlayPause = 101,
    kSaveParameters = 102,
    kAbout = 103,
    kConvert = 104,
    kExit = 107,  // menu item only
    kHelp = 110,
    kSetTempFolder = 111,  // push button and menu item
    kTempFolderLabel = 112,
    kFixAspectCheck = 115,

    // Captions of the cut values and of the information labels.
    kXPosCaption = 200,
    kYPosCaption = 201,
    kZoomCaption = 202,
    kVideoFileCaption = 203,
    kFrameSizeCaption = 204,
    kFrameRateCaption = 205,
    kFrameCountCaption = 206,
    kOperationCaption = 207,
    kFisheyeSizeCaption = 209,
    kDurationCaption = 210,
    kCompressionCaption = 214,
    kXSizeCaption = 220,
    kYSizeCaption = 221,
    kSharpenCheck = 208,
    kCompressionList = 213,

    // The cut values.
    kXL1Label = 300,
    kYL1Label = 301,
    kCutWidthLabel = 302,
    kXL2Label = 310,
    kYL2Label = 311,

    // The information values the engine writes.
    kPathLabel = 303,
    kFrameSizeLabel = 304,
    kFrameRateLabel = 305,
    kFrameCountLabel = 306,
    kOperationLabel = 307,
    kOutputSizeLabel = 309,
    kDurationLabel = 409,

    // Group boxes.
    kLogoGroup = 328,
    kImageGroup = 329,
    kCommonGroup = 330,
    kCutGroup = 331,
    kInputOutputGroup = 332,

    kShowInputCheck = 511,
    kShowOutputCheck = 512,

    // The filter rows: switch, slider, "Min." and "Max." labels, Reset.
    kContrastSlider = 519,
    kBrightnessSlider = 520,
    kSharpenSlider = 518,
    kContrastCheck = 522,
    kBrightnessCheck = 523,
    kSharpenMaxLabel = 525,
    kBrightnessMaxLabel = 526,
    kContrastMaxLabel = 527,
    kNoiseMaxLabel = 529,
    kCpuMaxLabel = 530,
    kSharpenMinLabel = 551,
    kBrightnessMinLabel = 552,
    kContrastMinLabel = 553,
    kNoiseMinLabel = 554,
    kCpuMinLabel = 555,
    kCpuSlider = 570,
    kCpuCheck = 571,
    kNoiseSlider = 572,
    kNoiseCheck = 573,
    kSharpenReset = 581,
    kBrightnessReset = 582,
    kContrastReset = 583,
    kNoiseReset = 584,
    kCpuReset = 585,
    kRadiusSlider = 590,

    kFileInformation = 597,  // menu item
    kAutoSave = 599,         // check box and menu item
    kPopupOutputWindow = 810,  // menu item
    kTempFormatCheck = 892,
    kWebSite = 902,          // menu item
    kMarkVrOutput = 904,     // menu item: outputs marked as 180° VR video
    kFindLensCircle = 921,   // menu item
    kSaveJob = 922,          // menu item: the conversion as a job file
    kAddToQueue = 923,       // menu item and push button: the loaded movie's job onto the queue
    kQueueWindow = 924,      // menu item and push button: the "Queue" window
    kRunQueue = 925,         // menu item: convert the queue's waiting jobs
    kLensDialog = 930,       // menu item
    // The "Stereo" menu: how the movie holds two eyes, how the output holds
    // them, swapped and aligned eyes, and the output preview's anaglyph.
    kStereoMono = 940,
    kStereoSideBySide = 941,
    kStereoTopBottom = 942,
    kStereoOutSideBySide = 943,
    kStereoOutTopBottom = 944,
    kSwapEyes = 945,
    kAlignEyes = 946,
    kAnaglyph = 947,
    kLoadStereoPair = 948,   // menu item: two movies, one per eye

    // The preview panels and the position bar.
    kInputPanel = 2007,
    kHiddenOutputPanel = 2008,
    kPositionStrip = 3011,
    kPositionBar = 3012,
    kFlipCheck = 3220,

    // The cut buttons: the four arrows act while held, the others on a click.
    kCutLeft = 3900,
    kCutRight = 3901,
    kCutUp = 3902,
    kCutDown = 3903,
    kCutReset = 3904,
    kCutEnlarge = 3907,
    kCutShrink = 3908,
};

// "Save a Video with another compression" (its ids are its own).
namespace options {
enum OptionsControlId : int {
    kSelectPath = 100,
    kPathEdit = 101,
    kCompressionCaption = 102,
    kResizeCaption = 103,
    kQualityList = 213,
    kResizeList = 870,
    kSaveVideo = 2002,
    kCancel = 2004,
};
}  // namespace options

}  // namespace tessaly::control
