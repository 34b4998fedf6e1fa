#pragma once
// What the window says, once, about a save that another program or a kill
// interfered with: a catalogue put back from its journal at start-up, and
// records another program wrote that a close could not take.

#include <QString>

#include <cstddef>

// A save killed in the middle was undone at start-up; `file` is the catalogue.
QString rolledBackText(const QString& file);
// ...or could not be undone, for `reason`.
QString notRolledBackText(const QString& file, const QString& reason);
// `count` records another program wrote went to the conflict file `file`.
QString conflictsText(std::size_t count, const QString& file);
