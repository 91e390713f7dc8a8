// The text of a refutation trace: the record a moduli search leaves of why
// a moduli set has no covering, line by line, so that a checker that shares
// no code with the search can replay it. Version 2 (version 1 is the same
// without the o step):
//
//   tilvane-refutation 2
//   moduli M1 M2 ... Mk          the set (distinct, each >= 1)
//   <node>                       the root, in the form below
//   end
//
// A node is one of these lines, its children following it depth first:
//   b X M...   branch on the uncovered residue X: some unassigned modulus
//              must hold X in any cover, so the children, one per listed
//              modulus M in this order, give M the class X mod M; the list
//              is every unassigned modulus
//   a M        branch on the classes of the unassigned modulus M: the
//              children give M the classes 0, 1, ..., M - 1 in this order
//   B          bound: the uncovered residues outnumber the sum, over the
//              unassigned moduli, of the most uncovered residues one class
//              of that modulus holds
//   P          projected bound: the same count on the residues modulo the
//              LCM Q of the unassigned moduli that have an uncovered lift
//   f P X M... fibre branch: X, uncovered, lies in a fibre of the prime P
//              (X + i·period/P) with more uncovered points than there are
//              unassigned moduli holding the full power of P in the
//              period; the children, as for b, are exactly the unassigned
//              moduli of smaller P-part
//   s M        (root only) a translate of a cover is a cover, so M takes
//              class 0; one child
//   u M C...   (only as the child of an s M0 step) the maps x -> u·x + t·M0
//              with u a unit modulo the period keep M0's class 0 and map
//              covers to covers, so M takes one of the listed classes, which
//              must meet every orbit of the classes of M; one child per class
//   o M C...   the maps x -> u·x, u a unit modulo the period, that keep
//              every assigned class (u·c = c modulo its modulus) map covers
//              extending the node to covers extending it; the listed
//              classes of the free modulus M must meet every orbit of those
//              units on the classes of M, and the children give M each
//              listed class in turn
//
// A file may hold several traces, and lines that settle a set without a
// search, each naming the set:
//   density M...        the reciprocals of the moduli add up to less than 1
//   subset M... in M'... the first set lies in the second, which a trace
//                       earlier in the file refutes
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tilvane {

inline constexpr std::string_view kTraceHeader = "tilvane-refutation 2";

// Where a search writes its trace, one line at a time (no line feed).
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void line(std::string_view text) = 0;
};

// A sink that keeps the lines, each ended by a line feed.
class TraceText final : public TraceSink {
 public:
  void line(std::string_view text) override;
  const std::string& text() const { return text_; }
  // Hands every line kept to another sink, in order.
  void replay(TraceSink& sink) const;
  void clear() { text_.clear(); }

 private:
  std::string text_;
};

// "WORD M1 M2 ..." for a list of numbers.
std::string trace_numbers(std::string_view word, std::span<const std::uint64_t> numbers);

}  // namespace tilvane
