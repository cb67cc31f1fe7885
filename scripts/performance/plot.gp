# Cost against window count: the scan on the simulated desktop, and the
# snapshot on real X with its two references. Columns of `data`: windows,
# simulated scan, real snapshot, pipelined floor, one at a time (µs; "?"
# where not measured).
set terminal png size 900,540 font ",11"
set output output
set title "Quellan: cost against window count"
set xlabel "windows"
set ylabel "time (µs)"
set logscale xy
set grid
set key top left
set datafile missing "?"
plot data using 1:2 with linespoints lw 2 title "scan, simulated desktop", \
     data using 1:3 with linespoints lw 2 title "snapshot, real X", \
     data using 1:4 with linespoints dt 2 title "as many property requests, pipelined (floor)", \
     data using 1:5 with linespoints dt 3 title "the same requests one at a time"
