# The comparison of a golden scenario's run with its golden files, shared by
# the runs of zev-sim.exe under Wine (run_golden.pl) and of the shipped
# executable through the Wine rig (tests/wine-rig/run_golden_rig.pl).
package GoldenCompare;
use strict;
use warnings;
use Exporter qw(import);
use JSON::PP;

our @EXPORT_OK = qw(slurp windowsPath firstDifference subsetMismatch runTo);

my $json = JSON::PP->new->canonical->allow_nonref;

sub slurp {
  my ($path) = @_;
  open(my $fh, '<:raw', $path) or return undef;
  local $/;
  my $bytes = <$fh>;
  close $fh;
  return $bytes // '';
}

# Unix path to the Windows form of Wine's Z: drive.
sub windowsPath { 'Z:' . ($_[0] =~ s{/}{\\}gr) }

# The first line where two texts differ.
sub firstDifference {
  my ($expected, $actual) = @_;
  my @e = split /\n/, $expected, -1;
  my @a = split /\n/, $actual, -1;
  for my $i (0 .. ($#e > $#a ? $#e : $#a)) {
    my $el = $e[$i] // '<end>';
    my $al = $a[$i] // '<end>';
    next if $el eq $al;
    s/([^\x20-\x7e])/sprintf('\\x%02x', ord $1)/ge for $el, $al;
    return sprintf("line %d:\n    expected: [%s]\n    actual:   [%s]", $i + 1, $el, $al);
  }
  return 'texts differ in length only';
}

# Every key of expected is in actual with an equal value; arrays element by
# element and of equal length. Returns the path of the first mismatch.
sub subsetMismatch {
  my ($expected, $actual, $where) = @_;
  if (ref $expected eq 'HASH') {
    return "$where is not an object" unless ref $actual eq 'HASH';
    for my $key (sort keys %$expected) {
      return "$where.$key missing" unless exists $actual->{$key};
      my $m = subsetMismatch($expected->{$key}, $actual->{$key}, "$where.$key");
      return $m if defined $m;
    }
    return undef;
  }
  if (ref $expected eq 'ARRAY') {
    return "$where is not an array" unless ref $actual eq 'ARRAY';
    return "$where has " . @$actual . ' elements, expected ' . @$expected
        unless @$actual == @$expected;
    for my $i (0 .. $#$expected) {
      my $m = subsetMismatch($expected->[$i], $actual->[$i], "$where\[$i\]");
      return $m if defined $m;
    }
    return undef;
  }
  my ($e, $a) = ($json->encode($expected), $json->encode($actual));
  return $e eq $a ? undef : "$where is $a, expected $e";
}

# Runs a program with standard output and error to files; returns the wait
# status.
sub runTo {
  my ($stdout, $stderr, @command) = @_;
  my $pid = fork // die "fork: $!\n";
  if ($pid == 0) {
    open(STDIN, '<', '/dev/null') or die;
    open(STDOUT, '>:raw', $stdout) or die;
    open(STDERR, '>', $stderr) or die;
    exec(@command) or die "exec $command[0]: $!\n";
  }
  waitpid($pid, 0);
  return $?;
}

1;
