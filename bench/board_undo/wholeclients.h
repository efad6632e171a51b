#pragma once

class RelayServer;

// Undo as a person meets it: whole desktop clients (the program's own
// SketoraClient, windows on the offscreen platform) joined to `server`, which
// already holds the picture. One of them draws a typical stroke with the
// mouse and then presses Ctrl+Z and Ctrl+Y in turn, `runs` times each. Per
// key press it prints the time until every client has pasted the patch and
// repainted its canvas, and the command-7 bytes a member received for it.
void measureWholeClients(RelayServer& server, int runs);
