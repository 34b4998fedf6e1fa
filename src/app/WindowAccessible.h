#pragma once
// What assistive technology sees of the window beyond its controls: a frame
// with its title, a status bar holding its two panels, bevels as separators.

// Makes the window's parts use these roles; called once per program.
void installWindowAccessibility();
