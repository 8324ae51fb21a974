#pragma once

class QLabel;
class QString;
class QWidget;

namespace plovik {

// What a screen reader is told about the app's own kinds of widget, beyond what Qt reports by
// itself: a card is a group named by its headline, a page title is a heading, and the notice
// line is a notification whose every new text is announced.
namespace accessibleRoles {

// Installs the roles once for the process; later calls do nothing.
void install();
void markAsGroup(QWidget* widget, const QString& name);
void markAsHeading(QLabel* label);
void markAsNotification(QLabel* label);
// Tells assistive technology that a notification label has a new text to announce.
void announce(QLabel* label);

}  // namespace accessibleRoles

}  // namespace plovik
