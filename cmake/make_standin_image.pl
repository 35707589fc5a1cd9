#!/usr/bin/perl
# Writes the stand-in firmware image: 2097152 bytes from a fixed 32-bit
# xorshift sequence, a short header naming it a stand-in, and the revision
# "KTW8LMZB" at offsets 0x1010 to 0x1017. The same bytes on every machine.
use strict;
use warnings;

my $out = shift or die "usage: make_standin_image.pl OUTPUT\n";
my $size = 2097152;
my $x = 0x2545F491;
my @words;
for (my $i = 0; $i < $size / 4; $i++) {
    $x ^= ($x << 13) & 0xFFFFFFFF;
    $x ^= $x >> 17;
    $x ^= ($x << 5) & 0xFFFFFFFF;
    push @words, $x;
}
my $image = pack("V*", @words);
my $header = "KELDORA TQ270c STAND-IN IMAGE";
substr($image, 0, length($header)) = $header;
substr($image, 0x1010, 8) = "KTW8LMZB";
open(my $fh, '>:raw', "$out.tmp") or die "cannot write $out.tmp: $!\n";
print $fh $image;
close($fh) or die "cannot write $out.tmp: $!\n";
rename("$out.tmp", $out) or die "cannot rename to $out: $!\n";
