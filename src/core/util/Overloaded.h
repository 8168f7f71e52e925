#pragma once

// One visitor for a std::variant made of a lambda per alternative.
template <typename... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
