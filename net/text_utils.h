// Small text helpers shared by the control protocols.
#pragma once

#include <list>
#include <string>
#include <utility>
#include <vector>

// Replaces every occurrence of each placeholder by its value, pair by pair in list order.
std::string substitute(const std::string& templ,
                       const std::list<std::pair<std::string, std::string>>& values);

// k delimiters give k + 1 pieces, empty ones included; an empty text gives one empty piece.
std::vector<std::string> splitString(const std::string& text, char delimiter);

// The text after the first `start` up to the next `end` (or the end of the text); empty when
// `start` does not occur.
std::string textBetween(const std::string& text, const std::string& start, const std::string& end);
