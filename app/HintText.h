#pragma once
// The hint pane's text rules. A hint is "short text|long text"; the pane
// shows the long text, in which "##" stands for a literal "#", a single "#"
// breaks the line and "~" is dropped (it marks accelerator positions in the
// captions the hints were written beside).
#include <string>

// The text the pane shows for Hint; a hint without "|" is all long text.
std::string HintPaneText(const std::string &hint);
// The short part: what a tool tip shows.
std::string HintShortText(const std::string &hint);
// Number of lines the pane needs for Text (at least 1).
int HintLineCount(const std::string &text);
// The window height after the pane's text changed: grows or shrinks by the
// difference between the lines' height and the pane's height, but a shrink
// never takes the window below its design height.
int HintWindowHeight(int windowHeight, int designHeight, int paneHeight, int lines, int lineHeight);
