#!/usr/bin/env bash
# Draws the setup's artwork into the folder given as the only argument:
#   header.bmp       493 x 58, 24-bit: the dialog's header (bitmap 130)
#   app.ico          128, 48, 32, 24 and 16 px, 32-bit: the application icon (icon 128)
#   tray_frame_0.ico 16 x 16, 8-bit: first tray animation frame (icon 129)
#   tray_frame_1.ico 16 x 16, 8-bit: second tray animation frame (icon 130)
# The mark is a shield with a check stroke; the header carries the product name on a gradient.
set -euo pipefail

out=${1:?usage: make_artwork.sh OUTPUT_FOLDER}
# The system ImageMagick: other tools named convert may come first on PATH.
convert=/usr/bin/convert
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

navy='#0b2f4e'
blue='#1d7fb8'
sky='#7cc6ee'
green='#34b36a'

# The shield outline on a 256-unit square, scaled by the caller through -draw "scale".
shield_path="path 'M 128,16 L 224,48 L 224,120 Q 224,200 128,242 Q 32,200 32,120 L 32,48 Z'"
check_path="stroke-linecap round stroke-linejoin round polyline 84,126 116,160 176,92"

# shield COLOUR_TOP COLOUR_BOTTOM SIZE FILE: the mark, filled with a vertical gradient, on a
# transparent square.
shield() {
    local top=$1 bottom=$2 size=$3 file=$4
    local scale stroke
    scale=$(awk -v s="$size" 'BEGIN { printf "%.5f", s / 256 }')
    # The check stays at least 1.5 px wide, so that it still shows at 16 px.
    stroke=$(awk -v s="$size" 'BEGIN { w = s / 12; if (w < 1.5) w = 1.5; print w }')
    "$convert" -size "${size}x${size}" "gradient:$top-$bottom" -alpha set \
        \( -size "${size}x${size}" xc:none -fill white -draw "scale $scale,$scale $shield_path" \) \
        -compose DstIn -composite \
        -fill none -stroke white -strokewidth "$stroke" -draw "scale $scale,$scale $check_path" \
        "$file"
}

# Header: horizontal gradient, the mark on the left, the product name beside it and a thin
# accent line along the bottom edge.
shield "$sky" "$blue" 44 "$work/header_mark.png"
"$convert" -size 58x493 "gradient:$blue-$navy" -rotate 90 \
    "$work/header_mark.png" -geometry +16+7 -composite \
    -font DejaVu-Sans-Bold -pointsize 22 -fill white -annotate +72+30 'Qerv Vantorel' \
    -font DejaVu-Sans -pointsize 11 -fill "$sky" -annotate +73+47 'Online Setup' \
    -fill "$green" -draw 'rectangle 0,55 492,57' \
    -alpha off -type TrueColor -depth 8 "BMP3:$out/header.bmp"

# Application icon: one 32-bit image per size, each drawn at its own size so small ones stay crisp.
icons=()
for size in 128 48 32 24 16; do
    shield "$sky" "$blue" "$size" "$work/app_$size.png"
    icons+=("$work/app_$size.png")
done
"$convert" "${icons[@]}" "$out/app.ico"

# Tray frames: the same mark in two colourings, so the icon visibly pulses once a second. A
# palette with more than 16 colours makes ImageMagick store each as an 8-bit image with a mask.
shield "$sky" "$blue" 16 "$work/tray_0.png"
shield "$green" "$navy" 16 "$work/tray_1.png"
for frame in 0 1; do
    "$convert" "$work/tray_$frame.png" -type PaletteMatte "$out/tray_frame_$frame.ico"
done
