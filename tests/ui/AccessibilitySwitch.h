#pragma once

// Qt sends accessibility events (QAccessible::updateAccessibility) only while the platform's
// accessibility is active, which a screen reader's bridge switches on. The offscreen platform
// has no bridge; this switches it on by hand. False where this build cannot.
bool switchAccessibilityOn();
