# KorviKSF - spooler filter wrapper around the filter program "ksf".
# The spooler named in the flag file decides how the call is read. The filter is
# run again, at once and for as long as it takes, until it succeeds (status 0).

ToolPath="%s"
CfgFlags=`cat ${ToolPath}/.%sp_cfg 2>/dev/null`
SpoolDir="%s"

flConfig=
for flWord in $CfgFlags
do
	case "$flWord" in
	LPRng|V5|AIX|BSD|CUPS) flConfig=$flWord ;;
	esac
done

case "${flConfig:-V5}" in
AIX)	# AIX queue back end: the arguments go through unchanged
	cd ${ToolPath}
	until ${ToolPath}/%ssf $*
	do
		:
	done
	;;
BSD)	# BSD lpd filter: the job arrives on standard input
	KavlonQueue=`pwd`
	KavlonPrinter=`basename $KavlonQueue`
	[ -d ${SpoolDir}/${KavlonPrinter} ] || mkdir -p ${SpoolDir}/${KavlonPrinter}
	cat > ${SpoolDir}/${KavlonPrinter}/${KavlonPrinter}.$$
	until ${ToolPath}/%ssf ${SpoolDir}/${KavlonPrinter}/${KavlonPrinter}.$$
	do
		:
	done
	rm -f ${SpoolDir}/${KavlonPrinter}/${KavlonPrinter}.$$
	;;
LPRng)	# LPRng filter: the job's files come as -f options, "(stdin)" for standard input
	KavlonQueue=`pwd`
	KavlonPrinter=`basename $KavlonQueue`
	KavlonJob=
	KavlonTmpFile=
	while getopts C:A:F:H:J:L:P:Q:a:d:e:f:h:j:k:l:n:s:w:y:t:x: KavlonOpt
	do
		case "$KavlonOpt" in
		f)
			if [ "$OPTARG" = "(stdin)" ]
			then
				KavlonTmpFile=${SPOOL_DIR}/${KavlonPrinter}.$$
				cat > $KavlonTmpFile
				KavlonJob=$KavlonTmpFile
			else
				KavlonJob="$KavlonJob $OPTARG"
			fi
			;;
		esac
	done
	until ${ToolPath}/%ssf $KavlonJob
	do
		:
	done
	if [ -n "$KavlonTmpFile" ]
	then
		rm -f $KavlonTmpFile
	fi
	;;
V5)	# System V filter: request-id user title copies options file...
	PATH=/usr/sbin:/usr/bin
	KavlonPrinter=`basename $0`
	KavlonRequest_id=$1
	KavlonUser_name=$2
	KavlonTitle=$3
	KavlonCopies=$4
	KavlonOption_list=$5
	export PATH KavlonPrinter KavlonRequest_id KavlonUser_name KavlonTitle KavlonCopies KavlonOption_list
	shift 5
	cd ${ToolPath}
	until ${ToolPath}/%ssf $*
	do
		:
	done
	;;
CUPS)	# CUPS filter: job-id user title copies options [file], the queue in PRINTER
	PATH=/usr/sbin:/usr/bin
	KavlonPrinter=$PRINTER
	KavlonRequest_id=$1
	KavlonUser_name=$2
	KavlonTitle=$3
	KavlonCopies=$4
	KavlonOption_list=$5
	export PATH KavlonPrinter KavlonRequest_id KavlonUser_name KavlonTitle KavlonCopies KavlonOption_list
	shift 5
	cd ${ToolPath}
	until ${ToolPath}/%ssf $*
	do
		:
	done
	;;
esac
