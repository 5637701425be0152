#pragma once

// The command identifiers of the main frame's menus, toolbars, command bar
// and keys. Menus, buttons and OnCommand share these numbers, so a button
// carrying an id behaves exactly as the menu item with it.
namespace sonitor::cmd {

// File
inline constexpr int kNewFile = 1001;
inline constexpr int kOpenFile = 1002;
inline constexpr int kCloseFile = 1003;
inline constexpr int kSaveFile = 1004;
inline constexpr int kSaveFileAs = 1005;
inline constexpr int kConvertSampleRate = 1006;
inline constexpr int kConvertToMono = 1007;
inline constexpr int kConvertToStereo = 1008;
inline constexpr int kSend = 1009;
inline constexpr int kOptions = 1010;
inline constexpr int kLoadCdTracks = 1011;
inline constexpr int kCopyToAudioCd = 1012;
inline constexpr int kOpenProject = 1013;
inline constexpr int kCloseProject = 1014;
inline constexpr int kSaveProject = 1015;
inline constexpr int kSaveProjectAs = 1016;
inline constexpr int kCopyToDataCd = 1018;
inline constexpr int kEditTags = 1019;
inline constexpr int kExit = 1048;
// Recent file i (1..11) is 1049 + i; 1061 is cleared with them.
inline constexpr int kRecentBase = 1049;
inline constexpr int kRecentFirst = 1050;
inline constexpr int kRecentLast = 1061;

// Edit
inline constexpr int kUndo = 2001;
inline constexpr int kCut = 2002;
inline constexpr int kCopy = 2003;
inline constexpr int kPaste = 2004;
inline constexpr int kPasteMix = 2005;
inline constexpr int kDelete = 2006;
inline constexpr int kSelectAll = 2007;
inline constexpr int kMixFile = 2008;
inline constexpr int kRepeatLoop = 2009;
inline constexpr int kTrim = 2010;
inline constexpr int kTrimStart = 2011;
inline constexpr int kTrimEnd = 2012;
inline constexpr int kAutoTrim = 2013;
inline constexpr int kSilenceSelection = 2014;
inline constexpr int kInsertSilenceBegin = 2015;
inline constexpr int kInsertSilenceCurrent = 2016;
inline constexpr int kInsertSilenceEnd = 2017;
inline constexpr int kInsertFileBegin = 2018;
inline constexpr int kInsertFileCurrent = 2019;
inline constexpr int kInsertFileEnd = 2020;
inline constexpr int kCopyToNew = 2021;
inline constexpr int kSelectToStart = 2022;
inline constexpr int kSelectToEnd = 2023;
inline constexpr int kPasteFromSystem = 2025;
inline constexpr int kPasteMixFromSystem = 2026;
inline constexpr int kSelectTime = 2027;
inline constexpr int kSaveSelectionAs = 2028;
inline constexpr int kSplitAtCursor = 2029;
inline constexpr int kMarkFirst = 2030;
inline constexpr int kMarkSecond = 2031;
inline constexpr int kRecallMarks = 2032;
inline constexpr int kRedo = 2033;
inline constexpr int kAutoSplit = 2034;

// Control (transport)
inline constexpr int kRecord = 3001;
inline constexpr int kPlay = 3002;
inline constexpr int kPlaySlow = 3003;
inline constexpr int kPlayNormal = 3004;
inline constexpr int kPlayFast = 3005;
inline constexpr int kStop = 3006;
inline constexpr int kGoToStart = 3007;
inline constexpr int kRewind = 3008;
inline constexpr int kFastForward = 3009;
inline constexpr int kGoToEnd = 3010;
inline constexpr int kLoopPlay = 3011;

// Effects: 4001..4036 (see the table in MainMenus.cpp).
inline constexpr int kEffectFirst = 4001;
inline constexpr int kEffectLast = 4036;
inline constexpr int kReverse = 4018;

// Window
inline constexpr int kZoomIn = 5001;
inline constexpr int kZoomOut = 5002;
inline constexpr int kZoomSelection = 5003;
inline constexpr int kZoomFull = 5004;
inline constexpr int kVerticalZoom = 5005;
inline constexpr int kDisplayCombined = 5007;
inline constexpr int kDisplayLeftRight = 5008;
inline constexpr int kCascade = 5009;
inline constexpr int kTileHorizontal = 5010;
inline constexpr int kTileVertical = 5011;
inline constexpr int kArrangeIcons = 5012;
inline constexpr int kDisplayDual = 5013;
inline constexpr int kCloseAll = 5040;

// Help
inline constexpr int kHelpContents = 6000;
inline constexpr int kAbout = 9090;

// Tools
inline constexpr int kFrequencyAnalysis = 7001;
inline constexpr int kBatchConverter = 7003;
inline constexpr int kTemporalAnalysis = 7005;
inline constexpr int kAutoClickRepair = 7009;
inline constexpr int kManualClickRepair = 7010;

// Bookmark
inline constexpr int kOpenRegionList = 8000;
inline constexpr int kSetBookmark = 8001;
inline constexpr int kPreviousBookmark = 8002;
inline constexpr int kOpenBookmarkList = 8003;
inline constexpr int kAddRegion = 8004;
inline constexpr int kNextBookmark = 8005;

// View
inline constexpr int kShowCommandBar = 9001;
inline constexpr int kCommandBarLeft = 9002;
inline constexpr int kCommandBarRight = 9003;
inline constexpr int kShowMainToolbar = 9004;
inline constexpr int kShowEffectsToolbar = 9005;

}  // namespace sonitor::cmd

// Controls of the main window that are not commands.
namespace sonitor::ctrl {

inline constexpr int kVolume = 102;
inline constexpr int kSelectionStart = 106;
inline constexpr int kSelectionEnd = 107;
inline constexpr int kSelectionLength = 108;
inline constexpr int kCurrentTime = 109;
inline constexpr int kPlayButton = 111;
inline constexpr int kScrubButton = 112;
inline constexpr int kStopButton = 113;
inline constexpr int kStartButton = 114;
inline constexpr int kRewindButton = 115;
inline constexpr int kForwardButton = 116;
inline constexpr int kEndButton = 117;
inline constexpr int kRecordButton = 118;
inline constexpr int kFileLength = 130;

}  // namespace sonitor::ctrl
