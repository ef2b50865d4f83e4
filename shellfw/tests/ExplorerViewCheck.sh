# Sourced by the Explorer view tests: checks what Wine's Explorer shows of a folder that
# SxExplorerDriver opened, on a screenshot kept in <build>/artifacts.
#   explorer_view_check "<driver answer>" <expected items> <screenshot name> [images [coloured]]
# The answer is the driver's "items N images M list LEFT TOP WIDTH HEIGHT". The view must list N
# items, the screenshot must not be blank, the view must hold drawn items; with images its items
# must show at least that many different icons, and with "coloured" the view must hold coloured
# pixels (icons: text is drawn in black and grey). Prints one line per check; returns 1 at the
# first failure, after saying what failed.
explorer_view_check() {
  local answer=$1 expected=$2 name=$3 minImages=${4:-0} coloured=${5:-}
  echo "driver: $answer"
  local word count images left top width height
  read -r word count _ images _ left top width height <<<"$answer"
  [ "$word" = items ] || { echo "FAILED: the folder did not open: $answer"; return 1; }
  [ "$count" = "$expected" ] || { echo "FAILED: the folder's view lists $count items, not $expected"; return 1; }
  [ "${images:-0}" -ge "$minImages" ] || { echo "FAILED: the folder's items show ${images:-no} different icons"; return 1; }
  local artifacts=$SX_BINARY_DIR/artifacts
  mkdir -p "$artifacts"
  local shot=$artifacts/$name
  sleep 1
  import -window root "$shot" || { echo "FAILED: screenshot"; return 1; }
  local colours
  colours=$(convert "$shot" -format %k info:)
  echo "screenshot $shot: $colours colours"
  [ "$colours" -gt 20 ] || { echo "FAILED: the screenshot is blank"; return 1; }
  [ "${width:-0}" -gt 40 ] && [ "${height:-0}" -gt 40 ] || { echo "FAILED: no view area in: $answer"; return 1; }
  # The view without its frame; its items are drawn from its top left corner.
  local area="$((width - 8))x$((height - 8))+$((left + 4))+$((top + 4))"
  local viewColours
  viewColours=$(convert "$shot" -crop "$area" +repage -format %k info:)
  echo "view $area: $viewColours colours"
  [ "$viewColours" -gt 4 ] || { echo "FAILED: the folder's view shows no items"; return 1; }
  if [ "$coloured" = coloured ]; then
    # Pixels of clear colour (saturation above 40 %): icons, never the black and grey of text.
    local coloured
    coloured=$(convert "$shot" -crop "$area" +repage -colorspace HSL -channel G -separate +channel \
      -threshold 40% -format '%[fx:round(mean*w*h)]' info:)
    echo "view $area: $coloured coloured pixels"
    [ "$coloured" -gt 400 ] || { echo "FAILED: the folder's view shows no icons"; return 1; }
  fi
  return 0
}
