#pragma once

// Makes sure a QGuiApplication exists for rendering in a program without windows (kavrel-cli,
// tests): creates one on the offscreen platform, unless QT_QPA_PLATFORM names another, and keeps
// it until the program ends. Does nothing when an application object already exists.
void EnsureOffscreenGuiApplication();
