// SPDX-License-Identifier: GPL-3.0-or-later
// Anchors the output library so that it links while its writers are added.
namespace norvo::output {}
