#pragma once

// Per-member tables. Both programs keep what they know of each connection
// index (pens, chat names, colours, fonts) in tables of 21 slots, indices 0
// to 20; a line or message from an index outside that range still takes the
// effect that needs no slot, but never reads or writes a table.
namespace protocol {

inline constexpr int TableSlots = 21;

constexpr bool hasSlot(int index) {
    return index >= 0 && index < TableSlots;
}

} // namespace protocol
