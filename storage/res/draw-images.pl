#!/usr/bin/perl
# Draws the bitmaps of both programs' windows into <out dir> as 24-bit BMP files, so the
# resource scripts take them from these sources and no picture is kept in binary form:
#   banner.bmp      the band at the top of the property windows and the version window (482 x 41)
#   menuimages.bmp  the images of the online folder's menu, 12 x 12 each, side by side, on the
#                   mask colour magenta: 0 new folder, 1 empty "Gelöschte Dateien"
# Usage: perl draw-images.pl <out dir>
use strict;
use warnings;

my $out = shift or die "usage: draw-images.pl <out dir>\n";
-d $out or mkdir $out or die "cannot make $out: $!\n";

# A picture is [width, height, [row][column] = [r, g, b]].
sub picture {
    my ($w, $h, $rgb) = @_;
    my @rows = map { [map { [@$rgb] } 1 .. $w] } 1 .. $h;
    return [$w, $h, \@rows];
}

sub put {
    my ($p, $x, $y, $rgb) = @_;
    return if $x < 0 || $y < 0 || $x >= $p->[0] || $y >= $p->[1];
    $p->[2][$y][$x] = [@$rgb];
}

sub write_bmp {
    my ($p, $file) = @_;
    my ($w, $h, $rows) = @$p;
    my $stride = int(($w * 3 + 3) / 4) * 4;
    my $data = '';
    for my $y (reverse 0 .. $h - 1) {     # bottom-up
        my $line = join '', map { pack 'C3', $_->[2], $_->[1], $_->[0] } @{$rows->[$y]};
        $data .= $line . ("\0" x ($stride - length $line));
    }
    open my $fh, '>:raw', "$out/$file" or die "cannot write $out/$file: $!\n";
    print $fh pack('A2 V v v V', 'BM', 54 + length $data, 0, 0, 54);
    print $fh pack('V l l v v V V l l V V', 40, $w, $h, 1, 24, 0, length $data, 2835, 2835, 0, 0);
    print $fh $data;
    close $fh;
}

# A 5 x 7 pixel face for the product's names.
my %glyph = (
    'T' => ['#####', '..#..', '..#..', '..#..', '..#..', '..#..', '..#..'],
    'V' => ['#...#', '#...#', '#...#', '#...#', '#...#', '.#.#.', '..#..'],
    'S' => ['.####', '#....', '#....', '.###.', '....#', '....#', '####.'],
    'a' => ['.....', '.....', '.###.', '....#', '.####', '#...#', '.####'],
    'd' => ['....#', '....#', '.##.#', '#..##', '#...#', '#...#', '.####'],
    'e' => ['.....', '.....', '.###.', '#...#', '#####', '#....', '.###.'],
    'k' => ['#....', '#....', '#..#.', '#.#..', '##...', '#.#..', '#..#.'],
    'l' => ['.##..', '..#..', '..#..', '..#..', '..#..', '..#..', '.###.'],
    'm' => ['.....', '.....', '##.#.', '#.#.#', '#.#.#', '#.#.#', '#.#.#'],
    'n' => ['.....', '.....', '#.##.', '##..#', '#...#', '#...#', '#...#'],
    'r' => ['.....', '.....', '#.##.', '##..#', '#....', '#....', '#....'],
    't' => ['.#...', '.#...', '###..', '.#...', '.#...', '.#..#', '..##.'],
    'u' => ['.....', '.....', '#...#', '#...#', '#...#', '#..##', '.##.#'],
);

# Writes text at (x, y), each pixel of the face as a scale x scale block; returns the end x.
sub text {
    my ($p, $x, $y, $scale, $rgb, $string) = @_;
    for my $c (split //, $string) {
        if ($c eq ' ') { $x += 3 * $scale; next; }
        my $g = $glyph{$c} or die "no glyph for '$c'\n";
        for my $row (0 .. 6) {
            for my $col (0 .. 4) {
                next unless substr($g->[$row], $col, 1) eq '#';
                for my $dy (0 .. $scale - 1) {
                    put($p, $x + $col * $scale + $_, $y + $row * $scale + $dy, $rgb) for 0 .. $scale - 1;
                }
            }
        }
        $x += 6 * $scale;
    }
    return $x;
}

sub mix {
    my ($a, $b, $t) = @_;
    return [map { int($a->[$_] + ($b->[$_] - $a->[$_]) * $t + 0.5) } 0 .. 2];
}

# The banner: the product's blue running lighter to the right, the product mark (a white "T" on a
# rounded blue square with a white rim) and the name in white, a light line at the bottom.
{
    my ($w, $h) = (482, 41);
    my $dark = [0x0F, 0x5A, 0x9C];
    my $light = [0x6F, 0xA8, 0xDC];
    my $white = [0xFF, 0xFF, 0xFF];
    my $p = picture($w, $h, $dark);
    for my $x (0 .. $w - 1) {
        my $c = mix($dark, $light, $x / ($w - 1));
        put($p, $x, $_, $c) for 0 .. $h - 2;
        put($p, $x, $h - 1, [0xD6, 0xE6, 0xF4]);
    }
    # The mark: 29 x 29 at (6, 6) with corners cut by a radius of 4.
    my ($mx, $my, $ms, $r) = (6, 6, 29, 4);
    for my $y (0 .. $ms - 1) {
        for my $x (0 .. $ms - 1) {
            my $cx = $x < $r ? $r - $x : $x > $ms - 1 - $r ? $x - ($ms - 1 - $r) : 0;
            my $cy = $y < $r ? $r - $y : $y > $ms - 1 - $r ? $y - ($ms - 1 - $r) : 0;
            my $d = sqrt($cx * $cx + $cy * $cy);
            next if $d > $r + 0.5;
            my $rim = $x == 0 || $y == 0 || $x == $ms - 1 || $y == $ms - 1 || $d > $r - 0.5;
            put($p, $mx + $x, $my + $y, $rim ? $white : $dark);
        }
    }
    text($p, $mx + 7, $my + 4, 3, $white, 'T');
    text($p, 46, 14, 2, $white, 'Tandrel Vaultmere');
    write_bmp($p, 'banner.bmp');
}

# The menu images, drawn as text: one character a pixel.
{
    my %colour = (
        '.' => [0xFF, 0x00, 0xFF],   # the mask colour: transparent
        'K' => [0x40, 0x40, 0x40],
        'Y' => [0xF5, 0xC8, 0x42],
        'G' => [0x2E, 0x9E, 0x3A],
        'S' => [0xC8, 0xCC, 0xD2],
        'W' => [0xF4, 0xF6, 0xF8],
    );
    my @images = (
        [   # new folder: a folder with a green plus
            '..........G.', '.........GGG', '.KKKK.....G.', 'KYYYYK......',
            'KYYYYKKKKKK.', 'KYYYYYYYYYK.', 'KYYYYYYYYYK.', 'KYYYYYYYYYK.',
            'KYYYYYYYYYK.', 'KYYYYYYYYYK.', 'KKKKKKKKKKK.', '............',
        ],
        [   # empty the deleted files: a bin
            '....KKKK....', '.KKKKKKKKKK.', '.KWWWWWWWWK.', '.KKKKKKKKKK.',
            '..KSKSKSSK..', '..KSKSKSSK..', '..KSKSKSSK..', '..KSKSKSSK..',
            '..KSKSKSSK..', '..KSKSKSSK..', '..KSSSSSSK..', '...KKKKKK...',
        ],
    );
    my $p = picture(12 * @images, 12, $colour{'.'});
    for my $i (0 .. $#images) {
        for my $y (0 .. 11) {
            for my $x (0 .. 11) {
                my $c = $colour{substr($images[$i][$y], $x, 1)} or die "bad pixel in image $i\n";
                put($p, 12 * $i + $x, $y, $c);
            }
        }
    }
    write_bmp($p, 'menuimages.bmp');
}
