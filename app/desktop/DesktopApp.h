#pragma once

#include <QStringList>

#include <optional>

// What the command line asks of the window and the headless demonstration.
struct DesktopOptions {
    // `--history-fixture N`: start on a fresh data folder already holding N generated calls.
    std::optional<int> historyFixture;
    // `--host-sound` (headless demo): the caller speaks into the computer's default input and what the
    // caller hears plays on its default output, through the desktop's sound server.
    bool hostSound = false;
};

// The ways `orlea` runs; each returns the process exit code.
// The window on the simulated Mac with the stand-in AI and the "Simulateur" window.
int runDesktop(int argc, char** argv, const DesktopOptions& options = {});
// The window on the real Mac (macOS builds only; macos/MacDesktop.cpp).
int runMacDesktop(int argc, char** argv);
// One complete call without a window, printing what happens (`--demo --call-once`).
int runHeadlessDemo(int argc, char** argv, const DesktopOptions& options = {});
// Every page and sheet, empty and populated, to PNG files in `folder` (`--screenshots DIR`).
int runScreenshots(int argc, char** argv, const QString& folder);
