#!/usr/bin/perl
# Reads back the resources of a PE32+ executable, independently of the tools
# that wrote them: the version information (RT_VERSION) and the application
# manifest (RT_MANIFEST).
#
#   perl pe_resources.pl FILE.exe
#
# Prints one line per value:
#   fixed.FileVersion=1.0.2.0             (VS_FIXEDFILEINFO)
#   fixed.ProductVersion=1.0.2.0
#   fixed.FileType=1
#   string.040904b0.CompanyName=KELDORA   (StringFileInfo)
#   manifest.<id>=<the manifest on one line>
# Exits 2 when the file is not a PE32+ image or has no resource directory.
use strict;
use warnings;

my $path = shift @ARGV or die "usage: $0 FILE.exe\n";
open(my $fh, '<:raw', $path) or die "$path: $!\n";
my $image = do { local $/; <$fh> };
close $fh;

sub u16 { unpack('v', substr($image, $_[0], 2)) }
sub u32 { unpack('V', substr($image, $_[0], 4)) }
sub fail { print STDERR "$path: $_[0]\n"; exit 2 }

fail('no MZ header') unless substr($image, 0, 2) eq 'MZ';
my $pe = u32(0x3C);
fail('no PE signature') unless substr($image, $pe, 4) eq "PE\0\0";
my $coff = $pe + 4;
my $sectionCount = u16($coff + 2);
my $optionalSize = u16($coff + 16);
my $optional = $coff + 20;
fail('not PE32+') unless u16($optional) == 0x20B;
# PE32+: the data directories start at 112; entry 2 is the resource table.
my $resourceRva = u32($optional + 112 + 2 * 8);
fail('no resource directory') unless $resourceRva;

my @sections;
my $table = $optional + $optionalSize;
for my $i (0 .. $sectionCount - 1) {
  my $s = $table + 40 * $i;
  push @sections, { va => u32($s + 12), vsize => u32($s + 8), raw => u32($s + 20),
                    rawsize => u32($s + 16) };
}

sub fileOffset {
  my ($rva) = @_;
  for my $s (@sections) {
    my $size = $s->{vsize} > $s->{rawsize} ? $s->{vsize} : $s->{rawsize};
    return $s->{raw} + $rva - $s->{va} if $rva >= $s->{va} && $rva < $s->{va} + $size;
  }
  fail(sprintf('RVA 0x%x outside every section', $rva));
}

my $root = fileOffset($resourceRva);

# IMAGE_RESOURCE_DIRECTORY: 16 bytes, then named and id entries of 8 bytes.
sub entries {
  my ($dir) = @_;
  my $count = u16($dir + 12) + u16($dir + 14);
  my @out;
  for my $i (0 .. $count - 1) {
    my $e = $dir + 16 + 8 * $i;
    push @out, [u32($e), u32($e + 4)];
  }
  return @out;
}

# Resources as [type, id, data offset, size]: type, name and language levels.
my @resources;
for my $type (entries($root)) {
  next unless $type->[1] & 0x80000000;
  for my $name (entries($root + ($type->[1] & 0x7FFFFFFF))) {
    next unless $name->[1] & 0x80000000;
    for my $lang (entries($root + ($name->[1] & 0x7FFFFFFF))) {
      next if $lang->[1] & 0x80000000;
      my $data = $root + $lang->[1];
      push @resources, [$type->[0], $name->[0], fileOffset(u32($data)), u32($data + 4)];
    }
  }
}

sub utf16z {
  my ($at, $end) = @_;
  my $text = '';
  while ($at + 1 < $end) {
    my $c = u16($at);
    $at += 2;
    last if $c == 0;
    $text .= chr($c);
  }
  return ($text, $at);
}

sub align4 { ($_[0] + 3) & ~3 }

# One version-information node: wLength, wValueLength, wType, szKey, padding,
# Value, padding, children.
sub versionNode {
  my ($at, $base, $prefix) = @_;
  my $length = u16($at);
  my $valueLength = u16($at + 2);
  my $type = u16($at + 4);
  my $end = $at + $length;
  my ($key, $next) = utf16z($at + 6, $end);
  my $value = align4($next - $base) + $base;
  if ($key eq 'VS_VERSION_INFO' && $valueLength >= 52 && u32($value) == 0xFEEF04BD) {
    printf "fixed.FileVersion=%d.%d.%d.%d\n", u32($value + 8) >> 16, u32($value + 8) & 0xFFFF,
        u32($value + 12) >> 16, u32($value + 12) & 0xFFFF;
    printf "fixed.ProductVersion=%d.%d.%d.%d\n", u32($value + 16) >> 16,
        u32($value + 16) & 0xFFFF, u32($value + 20) >> 16, u32($value + 20) & 0xFFFF;
    printf "fixed.FileType=%d\n", u32($value + 36);
  }
  my $valueBytes = $type == 1 ? 2 * $valueLength : $valueLength;
  if ($type == 1 && $valueLength > 0) {
    my ($text) = utf16z($value, $value + $valueBytes);
    print "$prefix$key=$text\n";
  }
  my $child = align4($value + $valueBytes - $base) + $base;
  my $childPrefix = $key eq 'VS_VERSION_INFO' ? '' : $key eq 'StringFileInfo' ? 'string.'
                  : $prefix eq 'string.' ? "string.$key." : $prefix;
  while ($child + 6 <= $end) {
    my $childLength = u16($child);
    last if $childLength == 0;
    versionNode($child, $base, $childPrefix);
    $child = align4($child + $childLength - $base) + $base;
  }
}

for my $r (@resources) {
  my ($type, $id, $offset, $size) = @$r;
  if ($type == 16) {
    versionNode($offset, $offset, '');
  } elsif ($type == 24) {
    (my $text = substr($image, $offset, $size)) =~ s/\s+/ /g;
    print "manifest.$id=$text\n";
  }
}
