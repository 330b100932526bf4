// The devices' row order (see collation.h), built as a sort key.
//
// Every byte of a row falls in one of three classes:
//   IGNORE  (the soft hyphen AD) adds nothing anywhere;
//   SPECIAL (controls, DEL, ' - and the two dashes 96 97) adds nothing to the
//           first three levels and one entry to the fourth;
//   NORMAL  (everything else) adds one unit, or two for Æ æ Œ œ ß Þ þ, of
//           (primary, diacritic, case) weights.
// The key is
//   L1 01 L2 01 L3 01 01 L4 00
// where L1 holds each unit's primary weight as two big-endian bytes, L2 and
// L3 its diacritic and case weights with trailing 02s ("no mark") dropped,
// and L4 one 4-byte entry per special: its position, its weight, then 12.
// The 01 separators sort below every weight byte they can meet, so a single
// byte comparison of two keys compares level by level, and at each level a
// sequence that another one begins with sorts before it. Positions of
// specials far into long rows are written differently from the plain
// FFFF - n; see PutPosition.
#include "text/collation.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace lumbra {
namespace {

enum Class : uint8_t { kNormal, kSpecial, kIgnore };

struct Weights {
  Class cls;
  uint8_t special;  // level-4 weight of a SPECIAL byte
  uint8_t units;    // units a NORMAL byte adds: 1, or 2 for the letter pairs
  uint16_t primary[2];
  uint8_t diacritic[2];
  uint8_t case_mark[2];
};

constexpr uint8_t kNoMark = 0x02;
constexpr char kLevelSeparator = 0x01;
constexpr char kSpecialFlags = 0x12;

// The weights of every Windows-1252 byte, case already folded: upper- and
// lower-case letters share their weights. Byte 00 does not occur in real
// rows; should one arrive anyway it counts as a SPECIAL with weight 01, below
// every other special, so it still has a place in the order and the key stays
// free of zero bytes.
constexpr Weights kTable[256] = {
    {kSpecial, 0x01, 0, {}, {}, {}},  // 00 (never in real rows; see above)
    {kSpecial, 0x03, 0, {}, {}, {}},  // 01 U+0001
    {kSpecial, 0x04, 0, {}, {}, {}},  // 02 U+0002
    {kSpecial, 0x05, 0, {}, {}, {}},  // 03 U+0003
    {kSpecial, 0x06, 0, {}, {}, {}},  // 04 U+0004
    {kSpecial, 0x07, 0, {}, {}, {}},  // 05 U+0005
    {kSpecial, 0x08, 0, {}, {}, {}},  // 06 U+0006
    {kSpecial, 0x09, 0, {}, {}, {}},  // 07 U+0007
    {kSpecial, 0x0A, 0, {}, {}, {}},  // 08 U+0008
    {kNormal, 0, 1, {0x0705}, {0x02}, {0x02}},  // 09 U+0009
    {kNormal, 0, 1, {0x0706}, {0x02}, {0x02}},  // 0A U+000A
    {kNormal, 0, 1, {0x0707}, {0x02}, {0x02}},  // 0B U+000B
    {kNormal, 0, 1, {0x0708}, {0x02}, {0x02}},  // 0C U+000C
    {kNormal, 0, 1, {0x0709}, {0x02}, {0x02}},  // 0D U+000D
    {kSpecial, 0x0B, 0, {}, {}, {}},  // 0E U+000E
    {kSpecial, 0x0C, 0, {}, {}, {}},  // 0F U+000F
    {kSpecial, 0x0D, 0, {}, {}, {}},  // 10 U+0010
    {kSpecial, 0x0E, 0, {}, {}, {}},  // 11 U+0011
    {kSpecial, 0x0F, 0, {}, {}, {}},  // 12 U+0012
    {kSpecial, 0x10, 0, {}, {}, {}},  // 13 U+0013
    {kSpecial, 0x11, 0, {}, {}, {}},  // 14 U+0014
    {kSpecial, 0x12, 0, {}, {}, {}},  // 15 U+0015
    {kSpecial, 0x13, 0, {}, {}, {}},  // 16 U+0016
    {kSpecial, 0x14, 0, {}, {}, {}},  // 17 U+0017
    {kSpecial, 0x15, 0, {}, {}, {}},  // 18 U+0018
    {kSpecial, 0x16, 0, {}, {}, {}},  // 19 U+0019
    {kSpecial, 0x17, 0, {}, {}, {}},  // 1A U+001A
    {kSpecial, 0x18, 0, {}, {}, {}},  // 1B U+001B
    {kSpecial, 0x19, 0, {}, {}, {}},  // 1C U+001C
    {kSpecial, 0x1A, 0, {}, {}, {}},  // 1D U+001D
    {kSpecial, 0x1B, 0, {}, {}, {}},  // 1E U+001E
    {kSpecial, 0x1C, 0, {}, {}, {}},  // 1F U+001F
    {kNormal, 0, 1, {0x0702}, {0x02}, {0x02}},  // 20 U+0020
    {kNormal, 0, 1, {0x071C}, {0x02}, {0x02}},  // 21 !
    {kNormal, 0, 1, {0x071D}, {0x02}, {0x02}},  // 22 "
    {kNormal, 0, 1, {0x071F}, {0x02}, {0x02}},  // 23 #
    {kNormal, 0, 1, {0x0721}, {0x02}, {0x02}},  // 24 $
    {kNormal, 0, 1, {0x0723}, {0x02}, {0x02}},  // 25 %
    {kNormal, 0, 1, {0x0725}, {0x02}, {0x02}},  // 26 &
    {kSpecial, 0x80, 0, {}, {}, {}},  // 27 '
    {kNormal, 0, 1, {0x0727}, {0x02}, {0x02}},  // 28 (
    {kNormal, 0, 1, {0x072A}, {0x02}, {0x02}},  // 29 )
    {kNormal, 0, 1, {0x072D}, {0x02}, {0x02}},  // 2A *
    {kNormal, 0, 1, {0x0803}, {0x02}, {0x02}},  // 2B +
    {kNormal, 0, 1, {0x072F}, {0x02}, {0x02}},  // 2C ,
    {kSpecial, 0x82, 0, {}, {}, {}},  // 2D -
    {kNormal, 0, 1, {0x0733}, {0x02}, {0x02}},  // 2E .
    {kNormal, 0, 1, {0x0735}, {0x02}, {0x02}},  // 2F /
    {kNormal, 0, 1, {0x0D03}, {0x02}, {0x02}},  // 30 0
    {kNormal, 0, 1, {0x0D1A}, {0x02}, {0x02}},  // 31 1
    {kNormal, 0, 1, {0x0D1C}, {0x02}, {0x02}},  // 32 2
    {kNormal, 0, 1, {0x0D1E}, {0x02}, {0x02}},  // 33 3
    {kNormal, 0, 1, {0x0D20}, {0x02}, {0x02}},  // 34 4
    {kNormal, 0, 1, {0x0D22}, {0x02}, {0x02}},  // 35 5
    {kNormal, 0, 1, {0x0D24}, {0x02}, {0x02}},  // 36 6
    {kNormal, 0, 1, {0x0D26}, {0x02}, {0x02}},  // 37 7
    {kNormal, 0, 1, {0x0D28}, {0x02}, {0x02}},  // 38 8
    {kNormal, 0, 1, {0x0D2A}, {0x02}, {0x02}},  // 39 9
    {kNormal, 0, 1, {0x0737}, {0x02}, {0x02}},  // 3A :
    {kNormal, 0, 1, {0x073A}, {0x02}, {0x02}},  // 3B ;
    {kNormal, 0, 1, {0x080E}, {0x02}, {0x02}},  // 3C <
    {kNormal, 0, 1, {0x0812}, {0x02}, {0x02}},  // 3D =
    {kNormal, 0, 1, {0x0814}, {0x02}, {0x02}},  // 3E >
    {kNormal, 0, 1, {0x073C}, {0x02}, {0x02}},  // 3F ?
    {kNormal, 0, 1, {0x073E}, {0x02}, {0x02}},  // 40 @
    {kNormal, 0, 1, {0x0E02}, {0x02}, {0x02}},  // 41 A
    {kNormal, 0, 1, {0x0E09}, {0x02}, {0x02}},  // 42 B
    {kNormal, 0, 1, {0x0E0A}, {0x02}, {0x02}},  // 43 C
    {kNormal, 0, 1, {0x0E1A}, {0x02}, {0x02}},  // 44 D
    {kNormal, 0, 1, {0x0E21}, {0x02}, {0x02}},  // 45 E
    {kNormal, 0, 1, {0x0E23}, {0x02}, {0x02}},  // 46 F
    {kNormal, 0, 1, {0x0E25}, {0x02}, {0x02}},  // 47 G
    {kNormal, 0, 1, {0x0E2C}, {0x02}, {0x02}},  // 48 H
    {kNormal, 0, 1, {0x0E32}, {0x02}, {0x02}},  // 49 I
    {kNormal, 0, 1, {0x0E35}, {0x02}, {0x02}},  // 4A J
    {kNormal, 0, 1, {0x0E36}, {0x02}, {0x02}},  // 4B K
    {kNormal, 0, 1, {0x0E48}, {0x02}, {0x02}},  // 4C L
    {kNormal, 0, 1, {0x0E51}, {0x02}, {0x02}},  // 4D M
    {kNormal, 0, 1, {0x0E70}, {0x02}, {0x02}},  // 4E N
    {kNormal, 0, 1, {0x0E7C}, {0x02}, {0x02}},  // 4F O
    {kNormal, 0, 1, {0x0E7E}, {0x02}, {0x02}},  // 50 P
    {kNormal, 0, 1, {0x0E89}, {0x02}, {0x02}},  // 51 Q
    {kNormal, 0, 1, {0x0E8A}, {0x02}, {0x02}},  // 52 R
    {kNormal, 0, 1, {0x0E91}, {0x02}, {0x02}},  // 53 S
    {kNormal, 0, 1, {0x0E99}, {0x02}, {0x02}},  // 54 T
    {kNormal, 0, 1, {0x0E9F}, {0x02}, {0x02}},  // 55 U
    {kNormal, 0, 1, {0x0EA2}, {0x02}, {0x02}},  // 56 V
    {kNormal, 0, 1, {0x0EA4}, {0x02}, {0x02}},  // 57 W
    {kNormal, 0, 1, {0x0EA6}, {0x02}, {0x02}},  // 58 X
    {kNormal, 0, 1, {0x0EA7}, {0x02}, {0x02}},  // 59 Y
    {kNormal, 0, 1, {0x0EA9}, {0x02}, {0x02}},  // 5A Z
    {kNormal, 0, 1, {0x073F}, {0x02}, {0x02}},  // 5B [
    {kNormal, 0, 1, {0x0741}, {0x02}, {0x02}},  // 5C backslash
    {kNormal, 0, 1, {0x0742}, {0x02}, {0x02}},  // 5D ]
    {kNormal, 0, 1, {0x0743}, {0x02}, {0x02}},  // 5E ^
    {kNormal, 0, 1, {0x0744}, {0x02}, {0x02}},  // 5F _
    {kNormal, 0, 1, {0x0748}, {0x02}, {0x02}},  // 60 `
    {kNormal, 0, 1, {0x0E02}, {0x02}, {0x02}},  // 61 a
    {kNormal, 0, 1, {0x0E09}, {0x02}, {0x02}},  // 62 b
    {kNormal, 0, 1, {0x0E0A}, {0x02}, {0x02}},  // 63 c
    {kNormal, 0, 1, {0x0E1A}, {0x02}, {0x02}},  // 64 d
    {kNormal, 0, 1, {0x0E21}, {0x02}, {0x02}},  // 65 e
    {kNormal, 0, 1, {0x0E23}, {0x02}, {0x02}},  // 66 f
    {kNormal, 0, 1, {0x0E25}, {0x02}, {0x02}},  // 67 g
    {kNormal, 0, 1, {0x0E2C}, {0x02}, {0x02}},  // 68 h
    {kNormal, 0, 1, {0x0E32}, {0x02}, {0x02}},  // 69 i
    {kNormal, 0, 1, {0x0E35}, {0x02}, {0x02}},  // 6A j
    {kNormal, 0, 1, {0x0E36}, {0x02}, {0x02}},  // 6B k
    {kNormal, 0, 1, {0x0E48}, {0x02}, {0x02}},  // 6C l
    {kNormal, 0, 1, {0x0E51}, {0x02}, {0x02}},  // 6D m
    {kNormal, 0, 1, {0x0E70}, {0x02}, {0x02}},  // 6E n
    {kNormal, 0, 1, {0x0E7C}, {0x02}, {0x02}},  // 6F o
    {kNormal, 0, 1, {0x0E7E}, {0x02}, {0x02}},  // 70 p
    {kNormal, 0, 1, {0x0E89}, {0x02}, {0x02}},  // 71 q
    {kNormal, 0, 1, {0x0E8A}, {0x02}, {0x02}},  // 72 r
    {kNormal, 0, 1, {0x0E91}, {0x02}, {0x02}},  // 73 s
    {kNormal, 0, 1, {0x0E99}, {0x02}, {0x02}},  // 74 t
    {kNormal, 0, 1, {0x0E9F}, {0x02}, {0x02}},  // 75 u
    {kNormal, 0, 1, {0x0EA2}, {0x02}, {0x02}},  // 76 v
    {kNormal, 0, 1, {0x0EA4}, {0x02}, {0x02}},  // 77 w
    {kNormal, 0, 1, {0x0EA6}, {0x02}, {0x02}},  // 78 x
    {kNormal, 0, 1, {0x0EA7}, {0x02}, {0x02}},  // 79 y
    {kNormal, 0, 1, {0x0EA9}, {0x02}, {0x02}},  // 7A z
    {kNormal, 0, 1, {0x074A}, {0x02}, {0x02}},  // 7B {
    {kNormal, 0, 1, {0x074C}, {0x02}, {0x02}},  // 7C |
    {kNormal, 0, 1, {0x074E}, {0x02}, {0x02}},  // 7D }
    {kNormal, 0, 1, {0x0750}, {0x02}, {0x02}},  // 7E ~
    {kSpecial, 0x1D, 0, {}, {}, {}},  // 7F U+007F
    {kNormal, 0, 1, {0x07A9}, {0x02}, {0x02}},  // 80 €
    {kNormal, 0, 1, {0x0CFA}, {0x1E}, {0x02}},  // 81 U+0081
    {kNormal, 0, 1, {0x077B}, {0x02}, {0x02}},  // 82 ‚
    {kNormal, 0, 1, {0x0E23}, {0x43}, {0x02}},  // 83 ƒ
    {kNormal, 0, 1, {0x077F}, {0x02}, {0x02}},  // 84 „
    {kNormal, 0, 1, {0x0A10}, {0x02}, {0x02}},  // 85 …
    {kNormal, 0, 1, {0x0B25}, {0x02}, {0x02}},  // 86 †
    {kNormal, 0, 1, {0x0B26}, {0x02}, {0x02}},  // 87 ‡
    {kNormal, 0, 1, {0x0743}, {0x02}, {0x02}},  // 88 ˆ
    {kNormal, 0, 1, {0x0B2C}, {0x0C}, {0x02}},  // 89 ‰
    {kNormal, 0, 1, {0x0E91}, {0x14}, {0x02}},  // 8A Š
    {kNormal, 0, 1, {0x0788}, {0x02}, {0x02}},  // 8B ‹
    {kNormal, 0, 2, {0x0E7C, 0x0E21}, {0x02, 0x02}, {0x02, 0x02}},  // 8C Œ
    {kNormal, 0, 1, {0x0CFA}, {0x2A}, {0x02}},  // 8D U+008D
    {kNormal, 0, 1, {0x0EA9}, {0x14}, {0x02}},  // 8E Ž
    {kNormal, 0, 1, {0x0CFA}, {0x2C}, {0x02}},  // 8F U+008F
    {kNormal, 0, 1, {0x0CFA}, {0x2D}, {0x02}},  // 90 U+0090
    {kNormal, 0, 1, {0x0779}, {0x02}, {0x02}},  // 91 ‘
    {kNormal, 0, 1, {0x077A}, {0x02}, {0x02}},  // 92 ’
    {kNormal, 0, 1, {0x077D}, {0x02}, {0x02}},  // 93 “
    {kNormal, 0, 1, {0x077E}, {0x02}, {0x02}},  // 94 ”
    {kNormal, 0, 1, {0x0B27}, {0x02}, {0x02}},  // 95 •
    {kSpecial, 0x89, 0, {}, {}, {}},  // 96 –
    {kSpecial, 0x90, 0, {}, {}, {}},  // 97 —
    {kNormal, 0, 1, {0x075D}, {0x02}, {0x02}},  // 98 ˜
    {kNormal, 0, 1, {0x0E9C}, {0x02}, {0x02}},  // 99 ™
    {kNormal, 0, 1, {0x0E91}, {0x14}, {0x02}},  // 9A š
    {kNormal, 0, 1, {0x0789}, {0x02}, {0x02}},  // 9B ›
    {kNormal, 0, 2, {0x0E7C, 0x0E21}, {0x02, 0x02}, {0x02, 0x02}},  // 9C œ
    {kNormal, 0, 1, {0x0CFA}, {0x3A}, {0x02}},  // 9D U+009D
    {kNormal, 0, 1, {0x0EA9}, {0x14}, {0x02}},  // 9E ž
    {kNormal, 0, 1, {0x0EA7}, {0x13}, {0x02}},  // 9F Ÿ
    {kNormal, 0, 1, {0x0704}, {0x02}, {0x02}},  // A0 U+00A0
    {kNormal, 0, 1, {0x0751}, {0x02}, {0x02}},  // A1 ¡
    {kNormal, 0, 1, {0x0797}, {0x02}, {0x02}},  // A2 ¢
    {kNormal, 0, 1, {0x0798}, {0x02}, {0x02}},  // A3 £
    {kNormal, 0, 1, {0x0799}, {0x02}, {0x02}},  // A4 ¤
    {kNormal, 0, 1, {0x079A}, {0x02}, {0x02}},  // A5 ¥
    {kNormal, 0, 1, {0x0752}, {0x02}, {0x02}},  // A6 ¦
    {kNormal, 0, 1, {0x0A06}, {0x02}, {0x02}},  // A7 §
    {kNormal, 0, 1, {0x0753}, {0x02}, {0x02}},  // A8 ¨
    {kNormal, 0, 1, {0x0A07}, {0x02}, {0x02}},  // A9 ©
    {kNormal, 0, 1, {0x0E02}, {0x03}, {0x06}},  // AA ª
    {kNormal, 0, 1, {0x0818}, {0x02}, {0x02}},  // AB «
    {kNormal, 0, 1, {0x0A08}, {0x02}, {0x02}},  // AC ¬
    {kIgnore, 0, 0, {}, {}, {}},  // AD U+00AD
    {kNormal, 0, 1, {0x0A09}, {0x02}, {0x02}},  // AE ®
    {kNormal, 0, 1, {0x0754}, {0x02}, {0x02}},  // AF ¯
    {kNormal, 0, 1, {0x0A0A}, {0x02}, {0x02}},  // B0 °
    {kNormal, 0, 1, {0x0817}, {0x02}, {0x02}},  // B1 ±
    {kNormal, 0, 1, {0x0D1C}, {0x02}, {0x06}},  // B2 ²
    {kNormal, 0, 1, {0x0D1E}, {0x02}, {0x06}},  // B3 ³
    {kNormal, 0, 1, {0x0755}, {0x02}, {0x02}},  // B4 ´
    {kNormal, 0, 1, {0x0A0B}, {0x02}, {0x02}},  // B5 µ
    {kNormal, 0, 1, {0x0A0C}, {0x02}, {0x02}},  // B6 ¶
    {kNormal, 0, 1, {0x0A0D}, {0x02}, {0x02}},  // B7 ·
    {kNormal, 0, 1, {0x0756}, {0x02}, {0x02}},  // B8 ¸
    {kNormal, 0, 1, {0x0D1A}, {0x02}, {0x06}},  // B9 ¹
    {kNormal, 0, 1, {0x0E7C}, {0x03}, {0x06}},  // BA º
    {kNormal, 0, 1, {0x081A}, {0x02}, {0x02}},  // BB »
    {kNormal, 0, 1, {0x0D0D}, {0x02}, {0x02}},  // BC ¼
    {kNormal, 0, 1, {0x0D11}, {0x02}, {0x02}},  // BD ½
    {kNormal, 0, 1, {0x0D15}, {0x02}, {0x02}},  // BE ¾
    {kNormal, 0, 1, {0x0757}, {0x02}, {0x02}},  // BF ¿
    {kNormal, 0, 1, {0x0E02}, {0x0F}, {0x02}},  // C0 À
    {kNormal, 0, 1, {0x0E02}, {0x0E}, {0x02}},  // C1 Á
    {kNormal, 0, 1, {0x0E02}, {0x12}, {0x02}},  // C2 Â
    {kNormal, 0, 1, {0x0E02}, {0x19}, {0x02}},  // C3 Ã
    {kNormal, 0, 1, {0x0E02}, {0x13}, {0x02}},  // C4 Ä
    {kNormal, 0, 1, {0x0E02}, {0x1A}, {0x02}},  // C5 Å
    {kNormal, 0, 2, {0x0E02, 0x0E21}, {0x02, 0x02}, {0x02, 0x02}},  // C6 Æ
    {kNormal, 0, 1, {0x0E0A}, {0x1C}, {0x02}},  // C7 Ç
    {kNormal, 0, 1, {0x0E21}, {0x0F}, {0x02}},  // C8 È
    {kNormal, 0, 1, {0x0E21}, {0x0E}, {0x02}},  // C9 É
    {kNormal, 0, 1, {0x0E21}, {0x12}, {0x02}},  // CA Ê
    {kNormal, 0, 1, {0x0E21}, {0x13}, {0x02}},  // CB Ë
    {kNormal, 0, 1, {0x0E32}, {0x0F}, {0x02}},  // CC Ì
    {kNormal, 0, 1, {0x0E32}, {0x0E}, {0x02}},  // CD Í
    {kNormal, 0, 1, {0x0E32}, {0x12}, {0x02}},  // CE Î
    {kNormal, 0, 1, {0x0E32}, {0x13}, {0x02}},  // CF Ï
    {kNormal, 0, 1, {0x0E1A}, {0x68}, {0x02}},  // D0 Ð
    {kNormal, 0, 1, {0x0E70}, {0x19}, {0x02}},  // D1 Ñ
    {kNormal, 0, 1, {0x0E7C}, {0x0F}, {0x02}},  // D2 Ò
    {kNormal, 0, 1, {0x0E7C}, {0x0E}, {0x02}},  // D3 Ó
    {kNormal, 0, 1, {0x0E7C}, {0x12}, {0x02}},  // D4 Ô
    {kNormal, 0, 1, {0x0E7C}, {0x19}, {0x02}},  // D5 Õ
    {kNormal, 0, 1, {0x0E7C}, {0x13}, {0x02}},  // D6 Ö
    {kNormal, 0, 1, {0x081C}, {0x02}, {0x02}},  // D7 ×
    {kNormal, 0, 1, {0x0E7C}, {0x21}, {0x02}},  // D8 Ø
    {kNormal, 0, 1, {0x0E9F}, {0x0F}, {0x02}},  // D9 Ù
    {kNormal, 0, 1, {0x0E9F}, {0x0E}, {0x02}},  // DA Ú
    {kNormal, 0, 1, {0x0E9F}, {0x12}, {0x02}},  // DB Û
    {kNormal, 0, 1, {0x0E9F}, {0x13}, {0x02}},  // DC Ü
    {kNormal, 0, 1, {0x0EA7}, {0x0E}, {0x02}},  // DD Ý
    {kNormal, 0, 2, {0x0E99, 0x0E2C}, {0x02, 0x02}, {0x02, 0x02}},  // DE Þ
    {kNormal, 0, 2, {0x0E91, 0x0E91}, {0x02, 0x02}, {0x02, 0x02}},  // DF ß
    {kNormal, 0, 1, {0x0E02}, {0x0F}, {0x02}},  // E0 à
    {kNormal, 0, 1, {0x0E02}, {0x0E}, {0x02}},  // E1 á
    {kNormal, 0, 1, {0x0E02}, {0x12}, {0x02}},  // E2 â
    {kNormal, 0, 1, {0x0E02}, {0x19}, {0x02}},  // E3 ã
    {kNormal, 0, 1, {0x0E02}, {0x13}, {0x02}},  // E4 ä
    {kNormal, 0, 1, {0x0E02}, {0x1A}, {0x02}},  // E5 å
    {kNormal, 0, 2, {0x0E02, 0x0E21}, {0x02, 0x02}, {0x02, 0x02}},  // E6 æ
    {kNormal, 0, 1, {0x0E0A}, {0x1C}, {0x02}},  // E7 ç
    {kNormal, 0, 1, {0x0E21}, {0x0F}, {0x02}},  // E8 è
    {kNormal, 0, 1, {0x0E21}, {0x0E}, {0x02}},  // E9 é
    {kNormal, 0, 1, {0x0E21}, {0x12}, {0x02}},  // EA ê
    {kNormal, 0, 1, {0x0E21}, {0x13}, {0x02}},  // EB ë
    {kNormal, 0, 1, {0x0E32}, {0x0F}, {0x02}},  // EC ì
    {kNormal, 0, 1, {0x0E32}, {0x0E}, {0x02}},  // ED í
    {kNormal, 0, 1, {0x0E32}, {0x12}, {0x02}},  // EE î
    {kNormal, 0, 1, {0x0E32}, {0x13}, {0x02}},  // EF ï
    {kNormal, 0, 1, {0x0E1A}, {0x68}, {0x02}},  // F0 ð
    {kNormal, 0, 1, {0x0E70}, {0x19}, {0x02}},  // F1 ñ
    {kNormal, 0, 1, {0x0E7C}, {0x0F}, {0x02}},  // F2 ò
    {kNormal, 0, 1, {0x0E7C}, {0x0E}, {0x02}},  // F3 ó
    {kNormal, 0, 1, {0x0E7C}, {0x12}, {0x02}},  // F4 ô
    {kNormal, 0, 1, {0x0E7C}, {0x19}, {0x02}},  // F5 õ
    {kNormal, 0, 1, {0x0E7C}, {0x13}, {0x02}},  // F6 ö
    {kNormal, 0, 1, {0x081D}, {0x02}, {0x02}},  // F7 ÷
    {kNormal, 0, 1, {0x0E7C}, {0x21}, {0x02}},  // F8 ø
    {kNormal, 0, 1, {0x0E9F}, {0x0F}, {0x02}},  // F9 ù
    {kNormal, 0, 1, {0x0E9F}, {0x0E}, {0x02}},  // FA ú
    {kNormal, 0, 1, {0x0E9F}, {0x12}, {0x02}},  // FB û
    {kNormal, 0, 1, {0x0E9F}, {0x13}, {0x02}},  // FC ü
    {kNormal, 0, 1, {0x0EA7}, {0x0E}, {0x02}},  // FD ý
    {kNormal, 0, 2, {0x0E99, 0x0E2C}, {0x02, 0x02}, {0x02, 0x02}},  // FE þ
    {kNormal, 0, 1, {0x0EA7}, {0x13}, {0x02}},  // FF ÿ
};

// The key may hold no zero byte but its last. Primary weights must also have
// a high byte above the 01 separator, and diacritic and case weights must
// lie above it too, for the separators to end each level correctly.
constexpr bool TableFitsTheKey() {
  for (const Weights& w : kTable) {
    if (w.cls == kSpecial && w.special == 0) return false;
    if (w.cls != kNormal) continue;
    if (w.units < 1 || w.units > 2) return false;
    for (int k = 0; k < w.units; ++k) {
      if ((w.primary[k] >> 8) <= 0x01 || (w.primary[k] & 0xFF) == 0) return false;
      if (w.diacritic[k] <= 0x01 || w.case_mark[k] <= 0x01) return false;
    }
  }
  return true;
}
static_assert(TableFitsTheKey());

// The two position bytes of a special that follows n units. A special
// further right must sort first, so the position counts down from FFFF - n.
// Written plainly, FFFF - n holds a zero byte as soon as n reaches 255, and a
// key may hold no zero byte but its last. So below 255 units the bytes are
// plainly (FF, FF - n), and from 255 units on the position counts down in
// base 255 with digits 01 to FF: (FE, FF) for 255, (FE, 01) for 509, (FD, FF)
// for 510, and so on down to (01, 01) at 65,024 units. Every later position
// also gets (01, 01): in rows that long (far beyond any real row) specials
// past that point tie on position and are ordered by weight alone.
inline void PutPosition(char* out, size_t n) {
  unsigned hi, lo;
  if (n < 255) {
    hi = 0xFF;
    lo = 0xFF - static_cast<unsigned>(n);
  } else if (n <= 65024) {
    size_t m = n - 255;
    hi = 0xFE - static_cast<unsigned>(m / 255);
    lo = 0xFF - static_cast<unsigned>(m % 255);
  } else {
    hi = lo = 0x01;
  }
  out[0] = static_cast<char>(hi);
  out[1] = static_cast<char>(lo);
}

// kTable laid out for the key builder: every weight as the bytes it puts in
// the key, and where a byte's last marked unit lies, so that the common byte
// (one unit, no marks) costs a lookup and a 2-byte copy.
struct KeyBytes {
  uint8_t units;    // 0 for SPECIAL and IGNORE
  uint8_t special;  // level-4 weight; 0 for all but SPECIAL
  uint8_t l2_last;  // 1-based index of the last unit with an accent mark; 0: none
  uint8_t l3_last;  // the same for case marks
  char l1[4];       // primary weights, big-endian
  char l2[2];
  char l3[2];
  char unused[4];   // pads an entry to 16 bytes
};

constexpr std::array<KeyBytes, 256> MakeKeyBytes() {
  std::array<KeyBytes, 256> out{};
  for (int c = 0; c < 256; ++c) {
    const Weights& w = kTable[c];
    KeyBytes& k = out[c];
    if (w.cls == kSpecial) k.special = w.special;
    if (w.cls != kNormal) continue;
    k.units = w.units;
    for (int u = 0; u < w.units; ++u) {
      k.l1[2 * u] = static_cast<char>(w.primary[u] >> 8);
      k.l1[2 * u + 1] = static_cast<char>(w.primary[u] & 0xFF);
      k.l2[u] = static_cast<char>(w.diacritic[u]);
      k.l3[u] = static_cast<char>(w.case_mark[u]);
      if (w.diacritic[u] != kNoMark) k.l2_last = static_cast<uint8_t>(u + 1);
      if (w.case_mark[u] != kNoMark) k.l3_last = static_cast<uint8_t>(u + 1);
    }
  }
  return out;
}

constexpr std::array<KeyBytes, 256> kKeyBytes = MakeKeyBytes();

// Appends the key of row to *out, growing it once, by the key's size plus
// `room` bytes of capacity to spare.
void AppendKey(std::string_view row, std::string* out, size_t room) {
  const unsigned char* begin = reinterpret_cast<const unsigned char*>(row.data());
  const unsigned char* end = begin + row.size();

  // First pass: the size of each level. L2 and L3 end with their last marked
  // unit.
  size_t units = 0, specials = 0, l2_size = 0, l3_size = 0;
  for (const unsigned char* p = begin; p != end; ++p) {
    const KeyBytes& k = kKeyBytes[*p];
    if (k.l2_last != 0) l2_size = units + k.l2_last;
    if (k.l3_last != 0) l3_size = units + k.l3_last;
    units += k.units;
    specials += k.special != 0;
  }

  size_t start = out->size();
  size_t l2_at = start + 2 * units + 1;
  size_t l3_at = l2_at + l2_size + 1;
  size_t l4_at = l3_at + l3_size + 2;
  size_t finish = l4_at + 4 * specials + 1;
  out->reserve(finish + room);
  out->resize(finish);
  char* key = out->data();

  // Second pass: the weights. An L2 or L3 write may spill one byte past the
  // end of its level, onto the separator, which is only written afterwards.
  char* p1 = key + start;
  char* p2 = key + l2_at;
  char* p3 = key + l3_at;
  char* p4 = key + l4_at;
  size_t unit = 0;
  for (const unsigned char* p = begin; p != end; ++p) {
    const KeyBytes& k = kKeyBytes[*p];
    if (k.units != 0) {
      std::memcpy(p1, k.l1, 2);
      if (k.units == 2) std::memcpy(p1 + 2, k.l1 + 2, 2);
      p1 += 2 * k.units;
      if (unit < l2_size) {
        std::memcpy(p2, k.l2, 2);
        p2 += k.units;
      }
      if (unit < l3_size) {
        std::memcpy(p3, k.l3, 2);
        p3 += k.units;
      }
      unit += k.units;
    } else if (k.special != 0) {
      PutPosition(p4, unit);
      p4[2] = static_cast<char>(k.special);
      p4[3] = kSpecialFlags;
      p4 += 4;
    }
  }
  key[l2_at - 1] = kLevelSeparator;
  key[l3_at - 1] = kLevelSeparator;
  key[l4_at - 2] = kLevelSeparator;
  key[l4_at - 1] = kLevelSeparator;
  key[finish - 1] = '\0';
}

}  // namespace

std::string CollationKey(std::string_view row) {
  // SortedRows keeps each row right after its key; room for it spares a
  // second allocation there.
  std::string key;
  AppendKey(row, &key, row.size());
  return key;
}

int CompareRows(std::string_view a, std::string_view b) {
  // Reused between calls, so comparing allocates nothing once warmed up.
  thread_local std::string key_a, key_b;
  key_a.clear();
  key_b.clear();
  AppendKey(a, &key_a, 0);
  AppendKey(b, &key_b, 0);
  int c = key_a.compare(key_b);
  if (c == 0) c = a.compare(b);
  return (c > 0) - (c < 0);
}

}  // namespace lumbra
