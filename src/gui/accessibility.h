#pragma once

namespace veltra {

// What screen readers and automation tools see of the program's controls,
// beyond Qt's own accessible interfaces:
// - radio buttons and check boxes whose every accessible action (toggle,
//   press) is a click, so it runs the same handler a mouse click runs;
// - the received-data list as a list of items with their texts, a row count
//   and the selection;
// - line edits whose text is one attribute run, and which are announced as
//   the focus before their caret and selection, so a screen reader speaks
//   the field, its name and its value, when Tab reaches it.
// Installed once per process, before the first control is created.
void installAccessibility();

}  // namespace veltra
