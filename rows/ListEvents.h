#pragma once
// What the partition list reports to its owner beyond the row model: the mouse buttons
// as its selection events number them. The window's handlers and the device commands
// that call those handlers speak of buttons by these numbers.

namespace orvella {

enum TMouseButton : int { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

}  // namespace orvella
